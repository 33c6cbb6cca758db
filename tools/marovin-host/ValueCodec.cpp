// Encoding of written values and formatting of read ones, per area.
#include "ValueCodec.h"

#include "Areas.h"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace marovin_host {

namespace {

// Parses a whole decimal or 0x-hex integer within [low, high].
bool parseInteger(const std::string &text, long long low, long long high, long long *value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high)
        return false;
    *value = v;
    return true;
}

// The unsigned value of n little-endian bytes; missing bytes count as zero.
std::uint32_t littleEndian(const QByteArray &bytes, int n)
{
    std::uint32_t value = 0;
    for (int i = n - 1; i >= 0; --i)
        value = (value << 8) | (i < bytes.size() ? static_cast<unsigned char>(bytes.at(i)) : 0u);
    return value;
}

// The IEEE single whose bit pattern is bits.
float asFloat(std::uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Decimal text of a float with up to 7 significant digits.
std::string formatFloat(float f)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(f));
    return buffer;
}

}  // namespace

bool encodeWriteValue(int area, const std::string &text, QByteArray *bytes, int *count, std::string *error)
{
    bytes->clear();
    long long v = 0;
    switch (area) {
    case kBits:
        if (text != "0" && text != "1") {
            *error = "a bit takes 0 or 1, not '" + text + "'";
            return false;
        }
        bytes->append(static_cast<char>(text == "1" ? 1 : 0));
        *count = 1;
        return true;
    case kWord16:
    case kWord16B:
        if (!parseInteger(text, -32768, 65535, &v)) {
            *error = "a 16-bit value takes -32768..65535, not '" + text + "'";
            return false;
        }
        bytes->append(static_cast<char>(v & 0xFF));
        bytes->append(static_cast<char>((v >> 8) & 0xFF));
        *count = 1;
        return true;
    case kDword32:
    case kDword32B:
        if (!parseInteger(text, -2147483648LL, 4294967295LL, &v)) {
            *error = "a 32-bit value takes -2147483648..4294967295, not '" + text + "'";
            return false;
        }
        for (int i = 0; i < 4; ++i)
            bytes->append(static_cast<char>((v >> (8 * i)) & 0xFF));
        *count = 2;
        return true;
    case kDecimalFloat: {
        errno = 0;
        char *end = nullptr;
        const double d = std::strtod(text.c_str(), &end);
        if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(d)) {
            *error = "a decimal float takes a number such as 12.5, not '" + text + "'";
            return false;
        }
        const float f = static_cast<float>(d);
        std::uint32_t bitsOf;
        std::memcpy(&bitsOf, &f, sizeof bitsOf);
        for (int i = 0; i < 4; ++i)
            bytes->append(static_cast<char>((bitsOf >> (8 * i)) & 0xFF));
        *count = 2;
        return true;
    }
    default:
        *error = "unknown area";
        return false;
    }
}

ShownValue showValue(int area, const QByteArray &bytes)
{
    ShownValue shown;
    char buffer[32];
    switch (area) {
    case kBits:
        shown.value = (littleEndian(bytes, 1) & 0xFF) ? "1" : "0";
        break;
    case kWord16:
    case kWord16B: {
        const std::uint32_t raw = littleEndian(bytes, 2);
        shown.value = std::to_string(static_cast<std::int16_t>(raw));
        std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(raw));
        shown.hex = buffer;
        break;
    }
    case kDword32:
    case kDword32B: {
        const std::uint32_t raw = littleEndian(bytes, 4);
        shown.value = std::to_string(static_cast<std::int32_t>(raw));
        std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(raw));
        shown.hex = buffer;
        break;
    }
    case kDecimalFloat:
        shown.value = formatFloat(asFloat(littleEndian(bytes, 4)));
        break;
    default:
        shown.value = "?";
        break;
    }
    return shown;
}

std::string plainValue(int area, const QByteArray &bytes)
{
    return showValue(area, bytes).value;
}

std::string memoryTextValue(int area, const QByteArray &bytes)
{
    switch (area) {
    case kWord16:
    case kWord16B:
        return std::to_string(littleEndian(bytes, 2));
    case kDword32:
    case kDword32B:
        return std::to_string(littleEndian(bytes, 4));
    case kDecimalFloat: {
        char buffer[64];
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, asFloat(littleEndian(bytes, 4)));
        return std::string(buffer, r.ec == std::errc() ? r.ptr : buffer);
    }
    default:
        return showValue(area, bytes).value;
    }
}

}  // namespace marovin_host
