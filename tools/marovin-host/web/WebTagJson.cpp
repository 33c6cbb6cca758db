#include "web/WebTagJson.h"

#include "json/TagStateJson.h"
#include "model/Areas.h"
#include "model/ValueText.h"

namespace marovin_host {

nlohmann::json webTagJson(const TagRow &row, const Moment &now)
{
    nlohmann::json j = tagStateJson(row, now);
    j["tag"] = row.tag.name;
    j["station"] = row.ref.station;
    j["area"] = areaName(row.ref.area);
    j["address"] = addressLabel(row.ref.area, row.ref.address);
    j["unit"] = row.tag.unit;
    j["writable"] = row.tag.writable;
    if (row.reads > 0) {
        const std::string hex = hexText(row.ref.area, row.value);
        if (!hex.empty())
            j["hex"] = hex;
    }
    return j;
}

bool rowStateChanged(const TagRow &before, const TagRow &after)
{
    return before.lastStatus != after.lastStatus || before.lastReadMs != after.lastReadMs ||
           before.value.raw != after.value.raw;
}

}  // namespace marovin_host
