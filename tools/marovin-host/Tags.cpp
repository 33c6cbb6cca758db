// Tag files name values for people and for the outputs; -v values are named
// by their address, so that every value has exactly one name.
#include "Tags.h"

#include "Areas.h"
#include "ValueCodec.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace marovin_host {

namespace {

const std::size_t kMaxNameLength = 64;
const std::size_t kMaxUnitLength = 16;
const std::size_t kMaxLineLength = 1024;

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

// One field after the address: rw, scale=K, offset=B or unit=U.
bool parseField(const std::string &field, TagInfo *tag, std::set<std::string> *seen, std::string *error)
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
    } else if (key == "unit" && eq != std::string::npos) {
        if (value.empty() || value.size() > kMaxUnitLength || value.find_first_of("\"\\<>&") != std::string::npos) {
            *error = "unit must be 1.." + std::to_string(kMaxUnitLength) + " characters without quotes or <>&";
            return false;
        }
        tag->unit = value;
    } else {
        *error = "unknown field '" + field + "' (expected rw, scale=K, offset=B or unit=U)";
        return false;
    }
    return true;
}

// One tag line after its comment was cut off.
bool parseTagLine(const std::string &line, VariableArg *out, std::string *error)
{
    const std::string::size_type eq = line.find('=');
    if (eq == std::string::npos) {
        *error = "expected NAME = STATION:AREA:ADDR[:COUNT] [rw] [scale=K] [offset=B] [unit=U]";
        return false;
    }
    const std::string name = trim(line.substr(0, eq));
    if (!validTagName(name)) {
        *error = "bad tag name '" + name + "' (letters, digits and _ . : - only, at most " +
                 std::to_string(kMaxNameLength) + ")";
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
    for (std::string field; fields >> field;) {
        if (!parseField(field, &out->tag, &seen, error))
            return false;
    }
    if (out->area == kBits && out->tag.scaled()) {
        *error = "scale and offset do not apply to status bits";
        return false;
    }
    return true;
}

}  // namespace

std::string canonicalName(const ValueRef &ref)
{
    char address[16];
    std::snprintf(address, sizeof address, ref.area == kBits ? "%d" : "%x", ref.address);
    return std::to_string(ref.station) + ":" + areaName(ref.area) + ":" + address;
}

std::string indexedName(const std::string &base, int count, int k)
{
    return count > 1 ? base + "[" + std::to_string(k) + "]" : base;
}

bool validTagName(const std::string &text)
{
    if (text.empty() || text.size() > kMaxNameLength)
        return false;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '.' || c == ':' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

bool readTagFile(const std::string &path, std::vector<VariableArg> *out, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read tag file " + path;
        return false;
    }
    std::set<std::string> names;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (line.size() > kMaxLineLength) {
            *error = where + "line longer than " + std::to_string(kMaxLineLength) + " characters";
            return false;
        }
        const std::string text = trim(line.substr(0, line.find('#')));
        if (text.empty())
            continue;
        VariableArg arg;
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

bool tagNumber(int area, const TagInfo &tag, const QByteArray &bytes, double *out)
{
    const std::string plain = plainValue(area, bytes);
    double raw = 0;
    if (!parseReal(plain, &raw))
        return false;
    *out = raw * tag.scale + tag.offset;
    return true;
}

std::string formatNumber(double value)
{
    char buffer[40];
    if (std::fabs(value) < 1e15 && value == std::floor(value))
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    else
        std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

bool rawWriteText(int area, const TagInfo &tag, const std::string &text, std::string *raw, std::string *error)
{
    if (!tag.scaled()) {
        *raw = text;
        return true;
    }
    double value = 0;
    if (!parseReal(text, &value)) {
        *error = "'" + text + "' is not a number";
        return false;
    }
    const double unscaled = (value - tag.offset) / tag.scale;
    if (area == kDecimalFloat) {
        *raw = formatNumber(unscaled);
        return true;
    }
    // Integer areas take the nearest raw step; the codec checks the range.
    const double rounded = std::nearbyint(unscaled);
    if (!std::isfinite(rounded) || std::fabs(rounded) > 1e12) {
        *error = "'" + text + "' is out of range";
        return false;
    }
    *raw = formatNumber(rounded);
    return true;
}

}  // namespace marovin_host
