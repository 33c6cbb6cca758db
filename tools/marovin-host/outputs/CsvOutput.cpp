#include "outputs/CsvOutput.h"

#include "model/ValueText.h"
#include "util/Clock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace marovin_host {

CsvOutput::~CsvOutput()
{
    std::fclose(out_);
}

namespace {

// The heading: time, elapsed_s and one column per row.
std::string headingOf(const std::vector<TagRow> &rows)
{
    std::string heading = "time,elapsed_s";
    for (const TagRow &row : rows)
        heading += "," + row.tag.name;
    return heading;
}

// PATH.YYYYMMDDTHHMMSS (now), with -2, -3 ... should that name be taken.
std::string asideName(const std::string &path)
{
    std::string stamped = path + ".";
    for (const char c : wallDateTimeText().substr(0, 19))
        if (c != '-' && c != ':')
            stamped += c;
    std::string name = stamped;
    for (int n = 2; ::access(name.c_str(), F_OK) == 0; ++n)
        name = stamped + "-" + std::to_string(n);
    return name;
}

}  // namespace

std::unique_ptr<CsvOutput> CsvOutput::open(const std::string &path, const std::vector<TagRow> &rows,
                                           std::string *error)
{
    // A restarted service goes on in its file; one of other columns is kept aside, never overwritten.
    // Only a regular file is read: /dev/stdout or a pipe would block or lose what it holds.
    const std::string heading = headingOf(rows);
    struct stat st;
    const bool had = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    std::ifstream old;
    // Bounded: a first line longer than the heading is another heading, whatever follows.
    std::vector<char> first(heading.size() + 2, '\0');
    if (had) {
        old.open(path, std::ios::binary);
        old.getline(first.data(), static_cast<std::streamsize>(first.size()));
    }
    const std::string kept = had && heading != first.data() ? asideName(path) : std::string();
    if (!kept.empty()) {
        if (std::rename(path.c_str(), kept.c_str()) != 0) {
            *error = "cannot move CSV file " + path + " aside (it has other columns): " + std::strerror(errno);
            return nullptr;
        }
    }
    // A line a crash cut short ends before the next one starts.
    old.clear();
    const bool cut = had && kept.empty() && old.seekg(-1, std::ios::end) && old.get() != '\n';
    std::FILE *out = std::fopen(path.c_str(), "a");
    if (!out) {
        *error = "cannot write CSV file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (cut)
        std::fputc('\n', out);
    if (!had || !kept.empty())
        std::fprintf(out, "%s\n", heading.c_str());
    std::unique_ptr<CsvOutput> csv(new CsvOutput(out));
    if (!kept.empty())
        csv->notes_.emplace_back(Notice::Info, path + " had other columns: kept as " + kept);
    return csv;
}

void CsvOutput::collectNotices(std::vector<Notice> &notices)
{
    notices.insert(notices.end(), notes_.begin(), notes_.end());
    notes_.clear();
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
