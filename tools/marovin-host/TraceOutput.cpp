// Trace lines: TX bytes in square brackets, RX bytes in angle brackets, hex upper case.
#include "TraceOutput.h"

#include "Clock.h"

#include <cerrno>
#include <cstring>

namespace marovin_host {

namespace {

// The bytes as "[08][00]" or "<4F>" cells after the line's start.
std::string byteLine(const std::string &time, const char *what, const std::uint8_t *bytes, std::size_t count,
                     const char *cellFormat)
{
    std::string line = time + what;
    char cell[8];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, cellFormat, bytes[i]);
        line += cell;
    }
    return line;
}

}  // namespace

std::string sentFrameLine(const std::string &time, const std::uint8_t *bytes, std::size_t count)
{
    return byteLine(time, " TX ", bytes, count, "[%02X]");
}

std::string receivedFrameLine(const std::string &time, const std::uint8_t *bytes, std::size_t count, int status,
                              const std::string &note)
{
    std::string line = byteLine(time, " RX ", bytes, count, "<%02X>");
    if (count == 0)
        line += "(nothing)";
    line += " status " + std::to_string(status);
    if (!note.empty())
        line += " (" + note + ")";
    return line;
}

TraceOutput::~TraceOutput()
{
    if (out_ == stdout)
        std::fflush(out_);
    else
        std::fclose(out_);
}

std::unique_ptr<TraceOutput> TraceOutput::open(const std::string &path, std::string *error)
{
    if (path.empty() || path == "-")
        return std::unique_ptr<TraceOutput>(new TraceOutput(stdout));
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (!out) {
        *error = "cannot write trace file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TraceOutput>(new TraceOutput(out));
}

void TraceOutput::frameSent(const std::uint8_t *bytes, std::size_t count)
{
    std::fprintf(out_, "%s\n", sentFrameLine(wallClockText(), bytes, count).c_str());
}

void TraceOutput::frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note)
{
    std::fprintf(out_, "%s\n", receivedFrameLine(wallClockText(), bytes, count, status, note).c_str());
}

void TraceOutput::traceEvent(const std::string &text)
{
    std::fprintf(out_, "%s %s\n", wallClockText().c_str(), text.c_str());
    std::fflush(out_);
}

}  // namespace marovin_host
