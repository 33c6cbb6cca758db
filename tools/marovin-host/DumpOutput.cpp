// Dump lines: address hex for areas 1..5 and decimal for status bits, values
// as the simulator writes them, so the two files compare line by line.
#include "DumpOutput.h"

#include "Areas.h"
#include "ExchangeLoop.h"
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

void DumpOutput::finish(const RunView &view)
{
    std::vector<std::pair<ValueRef, QByteArray>> values;
    for (const ValueRow &row : view.rows) {
        if (row.reads > 0)
            values.emplace_back(row.ref, row.bytes);
    }
    std::vector<ValueRow> onceRows;
    for (const OnceReadItem &item : onceReads_) {
        if (item.state != OnceReadItem::Done)
            continue;
        for (int k = 0; k < item.arg.count; ++k) {
            ValueRow row;
            row.ref = item.first;
            row.ref.address = item.first.address + k * addressStep(item.first.area);
            onceRows.push_back(row);
        }
    }
    fetchValues(api_, &onceRows);
    for (const ValueRow &row : onceRows)
        values.emplace_back(row.ref, row.bytes);
    writeDump(path_, values, &error_);
}

}  // namespace marovin_host
