// Parsing of the STATION:AREA:ADDR[:COUNT] and STATION:AREA:ADDR=VALUE forms.
#include "VariableArgs.h"

#include "Areas.h"

#include <cctype>
#include <fstream>

namespace marovin_host {

namespace {

// Splits text at every separator, keeping empty parts.
std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

}  // namespace

std::string trim(const std::string &text)
{
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

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

bool parseVariable(const std::string &text, VariableArg *out, std::string *error, const char *kind)
{
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 3 || parts.size() > 4) {
        *error = std::string("bad ") + kind + " '" + text + "': expected STATION:AREA:ADDR[:COUNT]";
        return false;
    }
    VariableArg arg;
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

bool parseWrite(const std::string &text, WriteArg *out, std::string *error)
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
    WriteArg arg;
    if (!parseKey("write", parts, text, &arg.station, &arg.area, &arg.addressText, error))
        return false;
    for (const std::string &value : split(text.substr(equals + 1), ',')) {
        const std::string v = trim(value);
        if (v.empty()) {
            *error = "bad write '" + text + "': empty value";
            return false;
        }
        arg.values.push_back(v);
    }
    arg.source = text;
    *out = arg;
    return true;
}

bool readVariableFile(const std::string &path, std::vector<VariableArg> *out, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read variable file " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string::size_type hash = line.find('#');
        const std::string text = trim(line.substr(0, hash));
        if (text.empty())
            continue;
        VariableArg arg;
        std::string message;
        if (!parseVariable(text, &arg, &message)) {
            *error = path + ":" + std::to_string(number) + ": " + message;
            return false;
        }
        arg.origin = path + ":" + std::to_string(number);
        out->push_back(arg);
    }
    return true;
}

}  // namespace marovin_host
