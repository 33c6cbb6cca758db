// A value as read, decoded once where it is fetched from the driver; every
// output takes its number from here and none parses text back into one.
#ifndef MAROVIN_HOST_MODEL_TAG_VALUE_H
#define MAROVIN_HOST_MODEL_TAG_VALUE_H

#include "model/Tag.h"

#include <cstdint>

namespace marovin_host {

struct TagValue {
    std::uint32_t raw = 0;  // the value's bits as the driver holds them (a bit: 0 or 1)
    double number = 0;      // as the PLC means it: the tag's integer type, or the decimal float
    double scaled = 0;      // number * scale + offset: what people and outputs see
};

// The value of bytesPerValue(area) bytes, least significant first, as held by
// the driver; missing bytes count as zero.
std::uint32_t rawFromBytes(const char *bytes, int size, int area);
// Decodes raw for the tag.
TagValue decodeValue(int area, const TagInfo &tag, std::uint32_t raw);
// The raw bits of a number of the area (the caller has checked its range and
// wholeness); a float is rounded to single precision.
std::uint32_t encodeNumber(int area, double number);
// The raw bits as the driver takes them for a write, least significant first.
int rawToBytes(int area, std::uint32_t raw, char *out);

}  // namespace marovin_host

#endif
