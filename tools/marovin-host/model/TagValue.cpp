// Bit patterns to numbers and back, per area and integer type.
#include "model/TagValue.h"

#include "model/Areas.h"

#include <cmath>
#include <cstring>

namespace marovin_host {

namespace {

// The IEEE single whose bit pattern is bits.
float asFloat(std::uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

}  // namespace

std::uint32_t rawFromBytes(const char *bytes, int size, int area)
{
    std::uint32_t value = 0;
    for (int i = bytesPerValue(area) - 1; i >= 0; --i)
        value = (value << 8) | (i < size ? static_cast<unsigned char>(bytes[i]) : 0u);
    return area == kBits ? (value & 0xFF ? 1u : 0u) : value;
}

TagValue decodeValue(int area, const TagInfo &tag, std::uint32_t raw)
{
    TagValue v;
    v.raw = raw;
    switch (area) {
    case kWord16:
    case kWord16B:
        v.number = tag.unsignedInt ? static_cast<double>(raw & 0xFFFF)
                                   : static_cast<double>(static_cast<std::int16_t>(raw & 0xFFFF));
        break;
    case kDword32:
    case kDword32B:
        v.number = tag.unsignedInt ? static_cast<double>(raw) : static_cast<double>(static_cast<std::int32_t>(raw));
        break;
    case kDecimalFloat:
        v.number = static_cast<double>(asFloat(raw));
        break;
    default:
        v.number = raw ? 1 : 0;
        break;
    }
    v.scaled = tag.scaled() ? v.number * tag.scale + tag.offset : v.number;
    return v;
}

std::uint32_t encodeNumber(int area, double number)
{
    if (area == kDecimalFloat) {
        const float f = static_cast<float>(number);
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits;
    }
    if (area == kBits)
        return number != 0 ? 1u : 0u;
    // Negative numbers wrap into their two's complement pattern.
    const long long whole = static_cast<long long>(number);
    const std::uint32_t bits = static_cast<std::uint32_t>(whole);
    return wordsPerValue(area) == 1 ? bits & 0xFFFFu : bits;
}

int rawToBytes(int area, std::uint32_t raw, char *out)
{
    const int n = bytesPerValue(area);
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>((raw >> (8 * i)) & 0xFF);
    return n;
}

}  // namespace marovin_host
