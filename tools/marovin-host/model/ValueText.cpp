#include "model/ValueText.h"

#include "model/Areas.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <algorithm>

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

namespace {

// Significant digits a double holds whole.
const int kDigits = 15;

// Decimals of the shortest text that reads back as x (1e-05 has 5).
int decimalsOf(double x)
{
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, x);
    const std::string text(buffer, r.ec == std::errc() ? r.ptr : buffer);
    const std::string::size_type e = text.find('e');
    const std::string mantissa = text.substr(0, e);
    const std::string::size_type dot = mantissa.find('.');
    int decimals = dot == std::string::npos ? 0 : static_cast<int>(mantissa.size() - dot - 1);
    if (e != std::string::npos)
        decimals -= std::atoi(text.c_str() + e + 1);
    return decimals < 0 ? 0 : decimals;
}

// Decimals of a float's own shortest text.
int floatDecimals(std::uint32_t raw)
{
    float f;
    std::memcpy(&f, &raw, sizeof f);
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, f);
    // Read back as a double the float's text is the number a person means.
    return decimalsOf(std::strtod(std::string(buffer, r.ec == std::errc() ? r.ptr : buffer).c_str(), nullptr));
}

}  // namespace

double publishedNumber(int area, const TagInfo &tag, const TagValue &value)
{
    if (!std::isfinite(value.scaled) || (area != kDecimalFloat && !tag.scaled()))
        return value.scaled;
    int decimals = tag.scaled() ? std::max(decimalsOf(tag.scale), decimalsOf(tag.offset)) : 0;
    if (area == kDecimalFloat)
        decimals += floatDecimals(value.raw);
    // Past 15 decimals only a small value has digits left (1e-20 is not 0): it
    // keeps as many as a double holds, counted from its first one.
    if (decimals > kDigits && value.scaled != 0) {
        const int first = static_cast<int>(std::floor(std::log10(std::fabs(value.scaled))));
        decimals = std::min(decimals, std::max(kDigits, kDigits - 1 - first));
    }
    const double p = std::pow(10.0, decimals);
    const double rounded = std::round(value.scaled * p) / p;
    // Beyond what a double holds whole, rounding changes nothing but can overflow.
    return std::isfinite(rounded) ? rounded : value.scaled;
}

void appendShortest(std::string &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[64];
    // Whole numbers the short way (and no "-0").
    if (value == std::floor(value) && std::fabs(value) < 9e15) {
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
        out.append(buffer, r.ptr);
        return;
    }
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, r.ec == std::errc() ? r.ptr : buffer);
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
