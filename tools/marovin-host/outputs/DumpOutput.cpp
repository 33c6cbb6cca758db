// Dump lines: address hex for areas 1..5 and decimal for status bits, values
// as the simulator writes them, so the two files compare line by line.
#include "outputs/DumpOutput.h"

#include "model/Areas.h"
#include "model/ValueText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

#include <unistd.h>

namespace marovin_host {

bool dumpWritable(const std::string &path, std::string *error)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::access(path.c_str(), W_OK) == 0 || (errno == ENOENT && ::access(folder.c_str(), W_OK | X_OK) == 0))
        return true;
    *error = "cannot write dump file " + path + ": " + std::strerror(errno);
    return false;
}

bool writeDump(const std::string &path, const std::vector<std::pair<ValueRef, TagValue>> &values,
               std::string *error)
{
    std::map<std::tuple<int, int, int>, std::string> lines;
    for (const auto &entry : values) {
        const ValueRef &r = entry.first;
        lines[std::make_tuple(r.station, r.area, r.address)] = std::to_string(r.station) + ":" +
                                                                std::to_string(r.area) + ":" +
                                                                addressText(r.area, r.address) + "=" +
                                                                memoryText(r.area, entry.second);
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

void DumpOutput::finish(const RunView &view)
{
    std::vector<std::pair<ValueRef, TagValue>> values;
    for (const TagRow &row : view.rows) {
        if (row.reads > 0)
            values.emplace_back(row.ref, row.value);
    }
    for (const OnceRead &item : onceReads_) {
        if (item.state != OnceRead::Done)
            continue;
        for (std::size_t k = 0; k < item.values.size(); ++k)
            values.emplace_back(item.at(static_cast<int>(k)), item.values[k]);
    }
    writeDump(path_, values, &error_);
}

}  // namespace marovin_host
