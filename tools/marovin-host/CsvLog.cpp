// CSV columns are named STATION:AREA:ADDR, e.g. 1:w16:0010.
#include "CsvLog.h"

#include "Areas.h"
#include "Clock.h"
#include "ValueCodec.h"

#include <cerrno>
#include <cstring>

namespace marovin_host {

CsvLog::~CsvLog()
{
    if (out_)
        std::fclose(out_);
}

bool CsvLog::open(const std::string &path, const std::vector<ValueRow> &rows, std::string *error)
{
    out_ = std::fopen(path.c_str(), "w");
    if (!out_) {
        *error = "cannot write CSV file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fputs("time,elapsed_s", out_);
    for (const ValueRow &row : rows)
        std::fprintf(out_, ",%d:%s:%s", row.ref.station, areaName(row.ref.area),
                     addressLabel(row.ref.area, row.ref.address).c_str());
    std::fputc('\n', out_);
    return true;
}

void CsvLog::append(double elapsedS, const std::vector<ValueRow> &rows)
{
    if (!out_)
        return;
    std::fprintf(out_, "%s,%.3f", wallDateTimeText().c_str(), elapsedS);
    for (const ValueRow &row : rows) {
        std::fputc(',', out_);
        if (row.reads > 0)
            std::fputs(plainValue(row.ref.area, row.bytes).c_str(), out_);
    }
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace marovin_host
