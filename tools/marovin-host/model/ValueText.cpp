#include "model/ValueText.h"

#include "model/Areas.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace marovin_host {

std::string formatNumber(double value)
{
    char buffer[40];
    if (std::fabs(value) < 1e15 && value == std::floor(value))
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    else
        std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

std::string shownValue(int area, const TagInfo &tag, const TagValue &value)
{
    if (tag.scaled() && area != kBits)
        return formatNumber(value.scaled);
    char buffer[48];
    if (area == kDecimalFloat)
        std::snprintf(buffer, sizeof buffer, "%.7g", value.number);
    else if (area >= kWord16 && area <= kDword32B)
        std::snprintf(buffer, sizeof buffer, "%.0f", value.number);
    else if (area == kBits)
        return value.raw ? "1" : "0";
    else
        return "?";
    return buffer;
}

std::string hexText(int area, const TagValue &value)
{
    char buffer[16];
    if (area == kWord16 || area == kWord16B)
        std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(value.raw & 0xFFFF));
    else if (area == kDword32 || area == kDword32B)
        std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value.raw));
    else
        return std::string();
    return buffer;
}

std::string memoryText(int area, const TagValue &value)
{
    if (area == kDecimalFloat) {
        float f;
        std::memcpy(&f, &value.raw, sizeof f);
        char buffer[64];
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, f);
        return std::string(buffer, r.ec == std::errc() ? r.ptr : buffer);
    }
    if (area == kBits)
        return value.raw ? "1" : "0";
    return std::to_string(value.raw);
}

}  // namespace marovin_host
