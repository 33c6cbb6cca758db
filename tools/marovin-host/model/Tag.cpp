// Names and ranges of tags: every value has exactly one name and one range,
// for reading and writing alike.
#include "model/Tag.h"

#include "model/Areas.h"

#include <cfloat>
#include <cstdio>

namespace marovin_host {

NumberRange tagRange(int area, const TagInfo &tag)
{
    switch (area) {
    case kBits:
        return {0, 1};
    case kWord16:
    case kWord16B:
        return tag.unsignedInt ? NumberRange{0, 65535} : NumberRange{-32768, 32767};
    case kDword32:
    case kDword32B:
        return tag.unsignedInt ? NumberRange{0, 4294967295.0} : NumberRange{-2147483648.0, 2147483647.0};
    default:
        return {-FLT_MAX, FLT_MAX};
    }
}

NumberRange patternRange(int area)
{
    switch (area) {
    case kWord16:
    case kWord16B:
        return {-32768, 65535};
    case kDword32:
    case kDword32B:
        return {-2147483648.0, 4294967295.0};
    default:
        return tagRange(area, TagInfo());
    }
}

std::string canonicalName(const ValueRef &ref)
{
    char address[16];
    if (ref.area == kBits)
        std::snprintf(address, sizeof address, "%d", ref.address);
    else
        std::snprintf(address, sizeof address, "%x", static_cast<unsigned>(ref.address));
    return std::to_string(ref.station) + ":" + areaName(ref.area) + ":" + address;
}

std::string indexedName(const std::string &base, int count, int k)
{
    return count > 1 ? base + "[" + std::to_string(k) + "]" : base;
}

bool validTagName(const std::string &text)
{
    if (text.empty() || text.size() > kMaxTagNameLength)
        return false;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '.' || c == ':' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace marovin_host
