// One read request of the driver carries one value, and one write frame
// writes one value, so every COUNT is expanded into single values here.
#include "driver/VariableSetup.h"

#include "model/Areas.h"

#include <set>

namespace marovin_host {

namespace {

const int kLastAddress = 0xFFFF;  // requests carry 16-bit addresses

// The driver's parse of one address text; the message names why it was refused.
bool checkAddress(const Driver &driver, int area, const std::string &text, const std::string &what, int *address,
                  std::string *error)
{
    const int parsed = driver.parseAddress(area, text);
    if (parsed < 0) {
        if (area == kBits)
            *error = what + ": '" + text +
                     "' is not a status bit (2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39)";
        else
            *error = what + ": address '" + text + "' is not a hex address";
        return false;
    }
    if (parsed > kLastAddress) {
        *error = what + ": address '" + text + "' is beyond FFFF";
        return false;
    }
    *address = parsed;
    return true;
}

// Checks the addresses of values 1..count-1 after the first.
bool checkFollowing(const Driver &driver, int area, int first, int count, const std::string &what,
                    std::string *error)
{
    for (int k = 1; k < count; ++k) {
        int address = 0;
        if (!checkAddress(driver, area, addressText(area, first + k * addressStep(area)), what, &address, error))
            return false;
    }
    return true;
}

// The station the driver will really use for a variable.
int effectiveStation(const DriverSettings &options, int station, const std::string &source,
                     std::vector<std::string> *warnings)
{
    if (options.multiStation || station == options.station)
        return station;
    warnings->push_back("'" + source + "' is served from station " + std::to_string(options.station) +
                        " (the default station); give --multi-station to address station " +
                        std::to_string(station));
    return options.station;
}

// Each value of each variable as a row; false on a bad address or a tag name given twice.
bool addRows(const Driver &driver, const DriverSettings &options, const std::vector<VariableEntry> &variables,
             HostVariables *out, std::string *error)
{
    std::set<std::string> names;
    for (const VariableEntry &v : variables) {
        const std::string what = (v.origin.empty() ? "" : v.origin + ": ") + "bad variable '" + v.source + "'";
        int first = 0;
        if (!checkAddress(driver, v.area, v.addressText, what, &first, error) ||
            !checkFollowing(driver, v.area, first, v.count, what, error))
            return false;
        const int station = effectiveStation(options, v.station, v.source, &out->warnings);
        for (int k = 0; k < v.count; ++k) {
            TagRow row;
            row.ref.station = station;
            row.ref.area = v.area;
            row.ref.address = first + k * addressStep(v.area);
            row.tag = v.tag;
            // A value given twice by address is one row; a tag name given twice is a mistake.
            row.tag.name = v.named ? indexedName(v.tag.name, v.count, k) : canonicalName(row.ref);
            if (!names.insert(row.tag.name).second) {
                if (!v.named)
                    continue;
                *error = (v.origin.empty() ? "" : v.origin + ": ") + "tag '" + row.tag.name + "' declared twice";
                return false;
            }
            out->rows.push_back(row);
        }
    }
    return true;
}

// Each once-read, its addresses checked; owner ids count from 1.
bool addOnceReads(const Driver &driver, const DriverSettings &options, const std::vector<VariableEntry> &onceReads,
                  HostVariables *out, std::string *error)
{
    int ownerId = 0;
    for (const VariableEntry &v : onceReads) {
        const std::string what = "bad once-read '" + v.source + "'";
        OnceRead item;
        if (!checkAddress(driver, v.area, v.addressText, what, &item.first.address, error) ||
            !checkFollowing(driver, v.area, item.first.address, v.count, what, error))
            return false;
        item.entry = v;
        item.first.station = effectiveStation(options, v.station, v.source, &out->warnings);
        item.first.area = v.area;
        item.ownerId = ++ownerId;
        out->onceReads.push_back(item);
    }
    return true;
}

// Each value of each write at its own address; the values are checked by the write check.
bool addWrites(const Driver &driver, const DriverSettings &options, const std::vector<WriteEntry> &writes,
               HostVariables *out, std::string *error)
{
    for (const WriteEntry &w : writes) {
        const std::string what = "bad write '" + w.source + "'";
        int first = 0;
        if (!checkAddress(driver, w.area, w.addressText, what, &first, error) ||
            !checkFollowing(driver, w.area, first, static_cast<int>(w.values.size()), what, error))
            return false;
        const int station = effectiveStation(options, w.station, w.source, &out->warnings);
        for (std::size_t k = 0; k < w.values.size(); ++k) {
            AddressedWrite item;
            item.ref.station = station;
            item.ref.area = w.area;
            item.ref.address = first + static_cast<int>(k) * addressStep(w.area);
            item.value = w.values[k];
            item.source = w.source;
            out->writes.push_back(item);
        }
    }
    return true;
}

}  // namespace

bool setUpVariables(const Driver &driver, const DriverSettings &settings, const std::vector<VariableEntry> &variables,
                    const std::vector<VariableEntry> &onceReads, const std::vector<WriteEntry> &writes,
                    HostVariables *out, std::string *error)
{
    return addRows(driver, settings, variables, out, error) && addOnceReads(driver, settings, onceReads, out, error) &&
           addWrites(driver, settings, writes, out, error);
}

}  // namespace marovin_host
