// Dump lines: address hex for areas 1..5 and decimal for status bits, values
// as the simulator writes them, so the two files compare line by line.
#include "DumpFile.h"

#include "Areas.h"
#include "ValueCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

namespace marovin_host {

bool writeDump(const std::string &path, const std::vector<std::pair<ValueRef, QByteArray>> &values,
               std::string *error)
{
    std::map<std::tuple<int, int, int>, std::string> lines;
    for (const auto &entry : values) {
        const ValueRef &r = entry.first;
        lines[std::make_tuple(r.station, r.area, r.address)] =
            std::to_string(r.station) + ":" + std::to_string(r.area) + ":" +
            addressText(r.area, r.address).toStdString() + "=" + memoryTextValue(r.area, entry.second);
    }
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (!out) {
        *error = "cannot write dump file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fputs("# marovin-host values: STATION:AREA:ADDRESS=VALUE (address hex, status bit decimal)\n", out);
    for (const auto &line : lines)
        std::fprintf(out, "%s\n", line.second.c_str());
    const bool ok = std::fclose(out) == 0;
    if (!ok)
        *error = "cannot write dump file " + path + ": " + std::strerror(errno);
    return ok;
}

}  // namespace marovin_host
