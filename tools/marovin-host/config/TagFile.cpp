// Tag files name values for people and for the outputs; -v values are named
// by their address, so that every value has exactly one name. What a tag
// cannot do is refused here, with file and line, not at the first write.
#include "config/TagFile.h"

#include "config/VariableText.h"
#include "model/Areas.h"
#include "util/Text.h"

#include "ConfigFile.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace marovin_host {

namespace {

const std::size_t kMaxUnitLength = 16;
const std::size_t kMaxLineLength = 1024;
const long long kMaxIntervalMs = 86400000;

// A whole, finite decimal number.
bool parseReal(const std::string &text, double *out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// One field after the address: rw, type=T, scale=K, offset=B, unit=U, deadband=D or min-interval=MS.
bool parseField(const std::string &field, TagInfo *tag, int *typeBits, std::set<std::string> *seen, std::string *error)
{
    const std::string::size_type eq = field.find('=');
    const std::string key = field.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);
    if (!seen->insert(key).second) {
        *error = "'" + key + "' given twice";
        return false;
    }
    if (key == "rw" && eq == std::string::npos) {
        tag->writable = true;
    } else if (key == "scale" && eq != std::string::npos) {
        if (!parseReal(value, &tag->scale) || tag->scale == 0.0) {
            *error = "scale must be a non-zero number, not '" + value + "'";
            return false;
        }
    } else if (key == "offset" && eq != std::string::npos) {
        if (!parseReal(value, &tag->offset)) {
            *error = "offset must be a number, not '" + value + "'";
            return false;
        }
    } else if (key == "type" && eq != std::string::npos) {
        if (value != "s16" && value != "u16" && value != "s32" && value != "u32") {
            *error = "type must be s16, u16, s32 or u32, not '" + value + "'";
            return false;
        }
        tag->unsignedInt = value[0] == 'u';
        *typeBits = value[1] == '1' ? 16 : 32;
    } else if (key == "deadband" && eq != std::string::npos) {
        if (!parseReal(value, &tag->deadband) || tag->deadband < 0) {
            *error = "deadband must be a number 0 or more, not '" + value + "'";
            return false;
        }
    } else if (key == "min-interval" && eq != std::string::npos) {
        double ms = 0;
        if (!parseReal(value, &ms) || ms < 0 || ms > kMaxIntervalMs || ms != std::floor(ms)) {
            *error = "min-interval must be whole milliseconds 0.." + std::to_string(kMaxIntervalMs) + ", not '" +
                     value + "'";
            return false;
        }
        tag->minIntervalMs = static_cast<long long>(ms);
    } else if (key == "unit" && eq != std::string::npos) {
        if (value.empty() || value.size() > kMaxUnitLength || value.find_first_of("\"\\<>&") != std::string::npos) {
            *error = "unit must be 1.." + std::to_string(kMaxUnitLength) + " characters without quotes or <>&";
            return false;
        }
        tag->unit = value;
    } else {
        *error = "unknown field '" + field + "' (expected rw, type=T, scale=K, offset=B, unit=U, deadband=D or "
                 "min-interval=MS)";
        return false;
    }
    return true;
}

// What the fields ask of the area: a type of its width, scaling of a number,
// writes to bits that can be written.
bool checkFits(const VariableEntry &entry, int typeBits, std::string *error)
{
    if (entry.area == kBits && entry.tag.scaled()) {
        *error = "scale and offset do not apply to status bits";
        return false;
    }
    const bool integerArea = entry.area != kBits && entry.area != kDecimalFloat;
    if (typeBits != 0 && !integerArea) {
        *error = std::string("type does not apply to ") + areaName(entry.area) + " values";
        return false;
    }
    const std::string width = std::to_string(16 * wordsPerValue(entry.area));
    if (typeBits != 0 && typeBits != 16 * wordsPerValue(entry.area)) {
        *error = "type must be s" + width + " or u" + width + " for " + areaName(entry.area) + " values";
        return false;
    }
    // A bit's address text is its decimal number, leading zeros and sign as
    // the driver reads them (it refuses others later); counted bits follow one by one.
    const std::string &text = entry.addressText;
    char *end = nullptr;
    errno = 0;
    const long first = std::strtol(text.c_str(), &end, 10);
    if (entry.area == kBits && entry.tag.writable && !text.empty() && !std::isspace(static_cast<unsigned char>(text[0])) &&
        *end == '\0' && errno == 0 && first >= 0 && first <= 0xFFFF) {
        for (long bit = first; bit < first + entry.count; ++bit) {
            if (!isWritableBit(static_cast<int>(bit))) {
                *error = "status bit " + std::to_string(bit) + " cannot be written (writable: " +
                         writableBitsText() + "): drop rw";
                return false;
            }
        }
    }
    return true;
}

// One tag line after its comment was cut off.
bool parseTagLine(const std::string &line, VariableEntry *out, std::string *error)
{
    const std::string::size_type eq = line.find('=');
    if (eq == std::string::npos) {
        *error = "expected NAME = STATION:AREA:ADDR[:COUNT] [rw] [type=T] [scale=K] [offset=B] [unit=U]";
        return false;
    }
    const std::string name = trim(line.substr(0, eq));
    if (!validTagName(name)) {
        *error = "bad tag name '" + name + "' (letters, digits and _ . : - only, at most " +
                 std::to_string(kMaxTagNameLength) + ")";
        return false;
    }
    std::istringstream fields(line.substr(eq + 1));
    std::string address;
    fields >> address;
    if (!parseVariable(address, out, error, "tag address"))
        return false;
    out->named = true;
    out->tag.name = name;
    std::set<std::string> seen;
    int typeBits = 0;
    for (std::string field; fields >> field;) {
        if (!parseField(field, &out->tag, &typeBits, &seen, error))
            return false;
    }
    return checkFits(*out, typeBits, error);
}

}  // namespace

bool readTagFile(const std::string &path, std::vector<VariableEntry> *out, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read tag file " + path;
        return false;
    }
    if (!readTagText(in, path, out, error))
        return false;
    // A folder opens like a file and reads as nothing.
    if (in.bad()) {
        *error = "cannot read tag file " + path;
        return false;
    }
    return true;
}

bool readTagText(std::istream &in, const std::string &path, std::vector<VariableEntry> *out, std::string *error)
{
    std::set<std::string> names;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (number == 1 && marovin_port::hasByteOrderMark(line))
            line.erase(0, 3);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (line.size() > kMaxLineLength) {
            *error = where + "line longer than " + std::to_string(kMaxLineLength) + " characters";
            return false;
        }
        const std::string text = trim(line.substr(0, line.find('#')));
        if (text.empty())
            continue;
        VariableEntry arg;
        if (!parseTagLine(text, &arg, error)) {
            *error = where + *error;
            return false;
        }
        if (!names.insert(arg.tag.name).second) {
            *error = where + "tag '" + arg.tag.name + "' declared twice";
            return false;
        }
        arg.source = text;
        arg.origin = path + ":" + std::to_string(number);
        out->push_back(arg);
    }
    return true;
}

}  // namespace marovin_host
