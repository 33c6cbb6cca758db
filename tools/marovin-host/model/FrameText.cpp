// TX bytes in square brackets, RX bytes in angle brackets, hex upper case.
#include "model/FrameText.h"

#include <cstdio>

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

}  // namespace marovin_host
