// Trace lines: TX bytes in square brackets, RX bytes in angle brackets, hex upper case.
#include "TraceLog.h"

#include "Clock.h"

#include <cerrno>
#include <cstring>

namespace marovin_host {

TraceLog::~TraceLog()
{
    if (ownFile_ && out_)
        std::fclose(out_);
    else if (out_)
        std::fflush(out_);
}

bool TraceLog::open(const std::string &path, std::string *error)
{
    if (path.empty() || path == "-") {
        out_ = stdout;
        return true;
    }
    out_ = std::fopen(path.c_str(), "w");
    if (!out_) {
        *error = "cannot write trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    ownFile_ = true;
    return true;
}

void TraceLog::sent(const std::uint8_t *bytes, std::size_t count)
{
    if (!out_)
        return;
    std::string line = wallClockText() + " TX ";
    char cell[8];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, "[%02X]", bytes[i]);
        line += cell;
    }
    std::fprintf(out_, "%s\n", line.c_str());
}

void TraceLog::received(const std::vector<std::uint8_t> &bytes, int status, const std::string &note)
{
    if (!out_)
        return;
    std::string line = wallClockText() + " RX ";
    char cell[8];
    for (std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "<%02X>", b);
        line += cell;
    }
    if (bytes.empty())
        line += "(nothing)";
    line += " status " + std::to_string(status);
    if (!note.empty())
        line += " (" + note + ")";
    std::fprintf(out_, "%s\n", line.c_str());
}

void TraceLog::flush()
{
    if (out_)
        std::fflush(out_);
}

void TraceLog::event(const std::string &text)
{
    if (!out_)
        return;
    std::fprintf(out_, "%s %s\n", wallClockText().c_str(), text.c_str());
    std::fflush(out_);
}

}  // namespace marovin_host
