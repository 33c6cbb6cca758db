#include "config/VariableText.h"

#include "model/Areas.h"
#include "util/Text.h"

#include "ConfigFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace marovin_host {

namespace {

// A non-negative decimal integer no larger than limit; -1 otherwise.
long parseDecimal(const std::string &text, long limit)
{
    if (text.empty() || text.size() > 9)
        return -1;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value <= limit ? value : -1;
}

// Station, area and address text shared by both forms; the address keeps only its digits.
bool parseKey(const char *kind, const std::vector<std::string> &parts, const std::string &text, int *station,
              int *area, std::string *address, std::string *error)
{
    const std::string what = std::string("bad ") + kind + " '" + text + "': ";
    const long s = parseDecimal(trim(parts[0]), 255);
    if (s < 0) {
        *error = what + "station must be a number 0..255";
        return false;
    }
    const int a = parseArea(trim(parts[1]));
    if (a < 0) {
        *error = what + "area must be 0..5 or bit|w16|d32|w16b|d32b|float";
        return false;
    }
    std::string addr = trim(parts[2]);
    if (a != kBits && addr.size() > 2 && addr[0] == '0' && (addr[1] == 'x' || addr[1] == 'X'))
        addr = addr.substr(2);
    if (addr.empty()) {
        *error = what + "address missing";
        return false;
    }
    *station = static_cast<int>(s);
    *area = a;
    *address = addr;
    return true;
}

}  // namespace

bool parseVariable(const std::string &text, VariableEntry *out, std::string *error, const char *kind)
{
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 3 || parts.size() > 4) {
        *error = std::string("bad ") + kind + " '" + text + "': expected STATION:AREA:ADDR[:COUNT]";
        return false;
    }
    VariableEntry arg;
    if (!parseKey(kind, parts, text, &arg.station, &arg.area, &arg.addressText, error))
        return false;
    if (parts.size() == 4) {
        const long count = parseDecimal(trim(parts[3]), 4096);
        if (count < 1) {
            *error = std::string("bad ") + kind + " '" + text + "': count must be a number 1..4096";
            return false;
        }
        arg.count = static_cast<int>(count);
    }
    arg.source = text;
    *out = arg;
    return true;
}

bool parseWrite(const std::string &text, WriteEntry *out, std::string *error)
{
    const std::string::size_type equals = text.find('=');
    if (equals == std::string::npos) {
        *error = "bad write '" + text + "': expected STATION:AREA:ADDR=VALUE[,VALUE...]";
        return false;
    }
    const std::vector<std::string> parts = split(text.substr(0, equals), ':');
    if (parts.size() != 3) {
        *error = "bad write '" + text + "': expected STATION:AREA:ADDR=VALUE[,VALUE...]";
        return false;
    }
    WriteEntry arg;
    if (!parseKey("write", parts, text, &arg.station, &arg.area, &arg.addressText, error))
        return false;
    for (const std::string &value : split(text.substr(equals + 1), ',')) {
        const std::string v = trim(value);
        if (v.empty()) {
            *error = "bad write '" + text + "': empty value";
            return false;
        }
        arg.values.push_back(parseWriteValue(arg.area, v));
    }
    arg.source = text;
    *out = arg;
    return true;
}

WriteValue parseWriteValue(int area, const std::string &text)
{
    WriteValue value;
    value.text = text;
    value.kind = WriteValue::NotANumber;
    if (text.empty())
        return value;
    errno = 0;
    char *end = nullptr;
    if (area == kDecimalFloat) {
        const double d = std::strtod(text.c_str(), &end);
        if (errno == 0 && *end == '\0' && std::isfinite(d)) {
            value.kind = WriteValue::Number;
            value.number = d;
        }
        return value;
    }
    // Decimal unless written 0x...: to a person 010 is ten, not octal eight.
    const std::size_t digits = text[0] == '-' || text[0] == '+' ? 1 : 0;
    const bool hex = text.size() > digits + 1 && text[digits] == '0' && (text[digits + 1] | 0x20) == 'x';
    const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno == 0 && *end == '\0') {
        value.kind = WriteValue::Number;
        value.number = static_cast<double>(v);
    }
    return value;
}

bool readVariableFile(const std::string &path, std::vector<VariableEntry> *out, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read variable file " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        if (++number == 1 && marovin_port::hasByteOrderMark(line))
            line.erase(0, 3);
        const std::string::size_type hash = line.find('#');
        const std::string text = trim(line.substr(0, hash));
        if (text.empty())
            continue;
        VariableEntry arg;
        std::string message;
        if (!parseVariable(text, &arg, &message)) {
            *error = path + ":" + std::to_string(number) + ": " + message;
            return false;
        }
        arg.origin = path + ":" + std::to_string(number);
        out->push_back(arg);
    }
    // A folder opens like a file and reads as nothing.
    if (in.bad()) {
        *error = "cannot read variable file " + path;
        return false;
    }
    return true;
}

}  // namespace marovin_host
