// One read request of the driver carries one value, and one write frame
// writes one value, so every COUNT is expanded into single values here.
#include "VariableSetup.h"

#include "Areas.h"
#include "Tags.h"
#include "ValueCodec.h"

#include <set>

#include <QString>

namespace marovin_host {

namespace {

const int kLastAddress = 0xFFFF;  // requests carry 16-bit addresses

// The driver's parse of one address text; the message names why it was refused.
bool checkAddress(const DriverApi &api, int area, const std::string &text, const std::string &what, int *address,
                  std::string *error)
{
    const int parsed = api.plcAddressChangeIntef(area, QString::fromStdString(text));
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
bool checkFollowing(const DriverApi &api, int area, int first, int count, const std::string &what,
                    std::string *error)
{
    for (int k = 1; k < count; ++k) {
        int address = 0;
        if (!checkAddress(api, area, addressText(area, first + k * addressStep(area)).toStdString(), what, &address,
                          error))
            return false;
    }
    return true;
}

// The station the driver will really use for a variable.
int effectiveStation(const HostOptions &options, int station, const std::string &source,
                     std::vector<std::string> *warnings)
{
    if (options.multiStation || station == options.station)
        return station;
    warnings->push_back("'" + source + "' is served from station " + std::to_string(options.station) +
                        " (the default station); give --multi-station to address station " +
                        std::to_string(station));
    return options.station;
}

}  // namespace

bool setUpVariables(const DriverApi &api, const HostOptions &options, const std::vector<VariableArg> &variables,
                    const std::vector<VariableArg> &onceReads, const std::vector<WriteArg> &writes,
                    HostVariables *out, std::string *error)
{
    std::set<std::string> names;
    for (const VariableArg &v : variables) {
        const std::string what = (v.origin.empty() ? "" : v.origin + ": ") + "bad variable '" + v.source + "'";
        int first = 0;
        if (!checkAddress(api, v.area, v.addressText, what, &first, error) ||
            !checkFollowing(api, v.area, first, v.count, what, error))
            return false;
        const int station = effectiveStation(options, v.station, v.source, &out->warnings);
        for (int k = 0; k < v.count; ++k) {
            ValueRow row;
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

    int ownerId = 0;
    for (const VariableArg &v : onceReads) {
        const std::string what = "bad once-read '" + v.source + "'";
        OnceReadItem item;
        if (!checkAddress(api, v.area, v.addressText, what, &item.first.address, error) ||
            !checkFollowing(api, v.area, item.first.address, v.count, what, error))
            return false;
        item.arg = v;
        item.first.station = effectiveStation(options, v.station, v.source, &out->warnings);
        item.first.area = v.area;
        item.ownerId = ++ownerId;
        out->onceReads.push_back(item);
    }

    for (const WriteArg &w : writes) {
        const std::string what = "bad write '" + w.source + "'";
        int first = 0;
        if (!checkAddress(api, w.area, w.addressText, what, &first, error) ||
            !checkFollowing(api, w.area, first, static_cast<int>(w.values.size()), what, error))
            return false;
        if (options.writeMode == 2 && wordsPerValue(w.area) == 2 && options.maxUnits < 2) {
            *error = what + ": 32-bit and float writes need --max-units 2 or more";
            return false;
        }
        const int station = effectiveStation(options, w.station, w.source, &out->warnings);
        for (std::size_t k = 0; k < w.values.size(); ++k) {
            WriteRequest item;
            item.ref.station = station;
            item.ref.area = w.area;
            item.ref.address = first + static_cast<int>(k) * addressStep(w.area);
            if (w.area == kBits && options.writeMode == 2 && !isWritableBit(item.ref.address)) {
                *error = what + ": status bit " + std::to_string(item.ref.address) +
                         " cannot be written (writable: 12, 25, 28, 29, 30, 31)";
                return false;
            }
            std::string message;
            QByteArray bytes;
            if (!encodeWriteValue(w.area, w.values[k], &bytes, &item.count, &message)) {
                *error = what + ": " + message;
                return false;
            }
            item.bytes.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            item.label = canonicalName(item.ref);
            item.valueText = w.values[k];
            out->writes.push_back(item);
        }
    }
    return true;
}

}  // namespace marovin_host
