#include "outputs/CsvOutput.h"

#include "model/ValueText.h"
#include "util/Clock.h"

#include <cerrno>
#include <cstring>

namespace marovin_host {

CsvOutput::~CsvOutput()
{
    std::fclose(out_);
}

std::unique_ptr<CsvOutput> CsvOutput::open(const std::string &path, const std::vector<TagRow> &rows,
                                           std::string *error)
{
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (!out) {
        *error = "cannot write CSV file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::fputs("time,elapsed_s", out);
    for (const TagRow &row : rows)
        std::fprintf(out, ",%s", row.tag.name.c_str());
    std::fputc('\n', out);
    return std::unique_ptr<CsvOutput>(new CsvOutput(out));
}

void CsvOutput::refresh(const RunView &view)
{
    std::fprintf(out_, "%s,%.3f", wallDateTimeText().c_str(), (view.nowMs - view.stats.startMs) / 1000.0);
    for (const TagRow &row : view.rows) {
        std::fputc(',', out_);
        if (row.reads > 0)
            std::fputs(shownValue(row.ref.area, row.tag, row.value).c_str(), out_);
    }
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace marovin_host
