#include "MemoryText.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <system_error>
#include <tuple>
#include <vector>

namespace marovin_device {

namespace {

// Whole-text unsigned parse in `base`; false on empty text, junk or overflow.
bool parseUnsigned(const std::string &text, int base, std::uint64_t *out)
{
    if (text.empty())
        return false;
    const char *end = text.data() + text.size();
    std::uint64_t v = 0;
    const std::from_chars_result r = std::from_chars(text.data(), end, v, base);
    if (r.ec != std::errc() || r.ptr != end)
        return false;
    *out = v;
    return true;
}

// Text without a leading "0x"/"0X", and whether it had one.
std::string withoutHexPrefix(const std::string &text, bool *had)
{
    *had = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return *had ? text.substr(2) : text;
}

// An integer value: decimal (optionally negative) or 0x hex, within `bits` bits.
bool parseInteger(const std::string &text, int bits, std::uint32_t *out, std::string *error)
{
    const std::uint64_t limit = bits == 32 ? 0xFFFFFFFFull : (1ull << bits) - 1;
    bool hex = false;
    std::string body = withoutHexPrefix(text, &hex);
    bool negative = false;
    if (!hex && !body.empty() && (body[0] == '-' || body[0] == '+')) {
        negative = body[0] == '-';
        body.erase(0, 1);
    }
    std::uint64_t v = 0;
    if (!parseUnsigned(body, hex ? 16 : 10, &v)) {
        *error = "bad value \"" + text + "\" (decimal or 0x hex expected)";
        return false;
    }
    if (negative) {
        // Negative values are stored as their two's complement in the field.
        if (v > (limit >> 1) + 1) {
            *error = "value " + text + " does not fit " + std::to_string(bits) + " bits";
            return false;
        }
        *out = static_cast<std::uint32_t>((~v + 1) & limit);
        return true;
    }
    if (v > limit) {
        *error = "value " + text + " does not fit " + std::to_string(bits) + " bits";
        return false;
    }
    *out = static_cast<std::uint32_t>(v);
    return true;
}

// Trims blanks at both ends.
std::string trim(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Hex text of an address, upper case, no prefix.
std::string hexText(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
    return buf;
}

}  // namespace

std::string stripLine(const std::string &line)
{
    // Editors on some systems put a UTF-8 byte order mark before a file's first line.
    const std::size_t from = line.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return trim(line.substr(from, line.find('#') - from));
}

std::string floatText(float value)
{
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ec == std::errc() ? r.ptr : buf);
}

bool parseKey(const std::string &text, VariableKey *key, std::string *error)
{
    const std::string t = trim(text);
    const auto c1 = t.find(':');
    const auto c2 = c1 == std::string::npos ? std::string::npos : t.find(':', c1 + 1);
    if (c2 == std::string::npos) {
        *error = "\"" + t + "\" is not STATION:AREA:ADDRESS";
        return false;
    }
    std::uint64_t station = 0, area = 0, address = 0;
    if (!parseUnsigned(trim(t.substr(0, c1)), 10, &station) || station > 255) {
        *error = "station in \"" + t + "\" must be 0..255";
        return false;
    }
    if (!parseUnsigned(trim(t.substr(c1 + 1, c2 - c1 - 1)), 10, &area) || area > 5) {
        *error = "area in \"" + t + "\" must be 0..5";
        return false;
    }
    const std::string addressText = trim(t.substr(c2 + 1));
    if (area == 0) {
        if (!parseUnsigned(addressText, 10, &address) || !isStatusBit(static_cast<int>(address))) {
            *error = "status bit \"" + addressText + "\" is not one of 2, 12, 16, 24, 25, 28-31, 36-39";
            return false;
        }
    } else {
        bool hex = false;
        if (!parseUnsigned(withoutHexPrefix(addressText, &hex), 16, &address) || address > 0xFFFFFFFFull) {
            *error = "address \"" + addressText + "\" is not a hex number";
            return false;
        }
    }
    key->station = static_cast<int>(station);
    key->area = static_cast<int>(area);
    key->address = static_cast<std::uint32_t>(address);
    return true;
}

bool parseValue(const VariableKey &key, const std::string &text, Assignment *out, std::string *error)
{
    const std::string t = trim(text);
    out->key = key;
    out->raw = 0;
    out->real = 0.0f;
    switch (key.area) {
    case 0: {
        if (t != "0" && t != "1") {
            *error = "status bit value must be 0 or 1, not \"" + t + "\"";
            return false;
        }
        out->raw = t == "1" ? 1 : 0;
        return true;
    }
    case 1:
    case 3:
        return parseInteger(t, 16, &out->raw, error);
    case 2:
    case 4:
        return parseInteger(t, 32, &out->raw, error);
    case 5: {
        const char *end = t.data() + t.size();
        float v = 0.0f;
        const std::from_chars_result r = std::from_chars(t.data(), end, v, std::chars_format::general);
        if (t.empty() || r.ec != std::errc() || r.ptr != end) {
            *error = "bad float \"" + t + "\"";
            return false;
        }
        out->real = v;
        return true;
    }
    default:
        *error = "unknown area";
        return false;
    }
}

bool parseAssignment(const std::string &text, Assignment *out, std::string *error)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        *error = "\"" + trim(text) + "\" is not STATION:AREA:ADDRESS=VALUE";
        return false;
    }
    VariableKey key;
    if (!parseKey(text.substr(0, eq), &key, error))
        return false;
    return parseValue(key, text.substr(eq + 1), out, error);
}

void apply(DeviceModel &model, const Assignment &a)
{
    switch (a.key.area) {
    case 0:
        model.setStatusBit(a.key.station, static_cast<int>(a.key.address), a.raw != 0);
        break;
    case 5:
        model.setDecimalFloat(a.key.station, a.key.address, a.real);
        break;
    default:
        model.setAreaValue(a.key.station, a.key.area, a.key.address, a.raw);
        break;
    }
}

bool loadMemoryText(DeviceModel &model, const std::string &text, std::string *error)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string body = stripLine(line);
        if (body.empty())
            continue;
        Assignment a;
        std::string why;
        if (!parseAssignment(body, &a, &why)) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        apply(model, a);
    }
    return true;
}

std::string dumpMemoryText(const DeviceModel &model)
{
    // (station, area, address) -> line, sorted.
    std::vector<std::tuple<int, int, std::uint32_t, std::string>> lines;
    auto add = [&](int station, int area, std::uint32_t address, const std::string &value) {
        const std::string addressText = area == 0 ? std::to_string(address) : hexText(address);
        lines.emplace_back(station, area, address,
                           std::to_string(station) + ":" + std::to_string(area) + ":" + addressText + "=" + value);
    };
    for (const Cell &c : model.cells()) {
        const bool statusCell = (c.space == Space32A && c.address == kStatusMain) ||
                                (c.space == Space16A && (c.address == kStatusB || c.address == kStatusC ||
                                                         c.address == kStatusD || c.address == kStatusE));
        if (statusCell) {
            std::uint32_t known = 0;
            for (int bit : statusBits()) {
                StatusBitLocation where;
                if (!statusBitLocation(bit, &where) || where.space != c.space || where.reg != c.address)
                    continue;
                known |= where.mask;
                add(c.station, 0, static_cast<std::uint32_t>(bit), model.statusBit(c.station, bit) ? "1" : "0");
            }
            if (c.value & ~known)
                add(c.station, c.space == Space32A ? 2 : 1, c.address, std::to_string(c.value));
            continue;
        }
        if (c.space == Space32A && c.view == 5) {
            add(c.station, 5, c.address, floatText(decimalFloatOfCell(c.value)));
            continue;
        }
        const int area = c.space == Space16A ? 1 : c.space == Space32A ? 2 : c.space == Space16B ? 3 : 4;
        add(c.station, area, c.address, std::to_string(c.value));
    }
    std::sort(lines.begin(), lines.end());
    std::string out = "# marovin-sim memory: STATION:AREA:ADDRESS=VALUE (address hex, status bit decimal)\n";
    for (const auto &l : lines)
        out += std::get<3>(l) + "\n";
    return out;
}

}  // namespace marovin_device
