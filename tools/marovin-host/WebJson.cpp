#include "WebJson.h"

#include "Areas.h"
#include "ValueCodec.h"

namespace marovin_host {

nlohmann::json webTagJson(const ValueRow &row, const Moment &now)
{
    nlohmann::json j = tagStateJson(row, now);
    j["tag"] = row.tag.name;
    j["station"] = row.ref.station;
    j["area"] = areaName(row.ref.area);
    j["address"] = addressLabel(row.ref.area, row.ref.address);
    j["unit"] = row.tag.unit;
    j["writable"] = row.tag.writable;
    if (row.reads > 0) {
        const std::string hex = showValue(row.ref.area, row.bytes).hex;
        if (!hex.empty())
            j["hex"] = hex;
    }
    return j;
}

bool rowStateChanged(const ValueRow &before, const ValueRow &after)
{
    return before.lastStatus != after.lastStatus || before.lastReadMs != after.lastReadMs ||
           before.bytes != after.bytes;
}

}  // namespace marovin_host
