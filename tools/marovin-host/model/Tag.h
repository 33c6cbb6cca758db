// A tag: a value of the PLC with a name, and how people and outside writers see it.
#ifndef MAROVIN_HOST_MODEL_TAG_H
#define MAROVIN_HOST_MODEL_TAG_H

#include <string>

namespace marovin_host {

// One value of the PLC: station, area and numeric address.
struct ValueRef {
    int station = 1;
    int area = 0;
    int address = 0;
};

// What a tag adds to a value: its name, whether outside writers may change it,
// how the PLC's word is meant, and the linear scaling shown to people and
// outputs (number * scale + offset).
struct TagInfo {
    std::string name;
    bool writable = false;
    bool unsignedInt = false;  // type=u16|u32; signed (as the driver's values read) otherwise
    double scale = 1.0;
    double offset = 0.0;
    std::string unit;
    double deadband = 0;        // in scaled units: smaller changes since the last value sent are not sent
    long long minIntervalMs = 0;  // at most one message per tag per interval
    bool scaled() const { return scale != 1.0 || offset != 0.0; }
};

// The numbers a value of the area may hold, as the tag means them.
struct NumberRange {
    double low;
    double high;
    bool contains(double v) const { return v >= low && v <= high; }
};
NumberRange tagRange(int area, const TagInfo &tag);
// A raw word written by address: every bit pattern, given signed or unsigned.
NumberRange patternRange(int area);

// STATION:AREA:ADDR with the area's name and the address as lower-case hex
// (decimal bit number for area 0): the name of a value given by address.
std::string canonicalName(const ValueRef &ref);
// The name of value k of a tag of count values: NAME, or NAME[k] when count > 1.
std::string indexedName(const std::string &base, int count, int k);
// Whether text may name a tag: letters, digits and _ . : - only, 1..64 characters.
bool validTagName(const std::string &text);
const std::size_t kMaxTagNameLength = 64;

}  // namespace marovin_host

#endif
