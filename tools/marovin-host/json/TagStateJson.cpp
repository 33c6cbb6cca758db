#include "json/TagStateJson.h"

#include "json/JsonText.h"
#include "model/Status.h"
#include "model/ValueText.h"

#include <cmath>
#include <string>

namespace marovin_host {

nlohmann::json tagStateJson(const TagRow &row, const Moment &now)
{
    nlohmann::json j = nlohmann::json::object();
    if (row.reads > 0)
        j["value"] = numberJson(publishedNumber(row.ref.area, row.tag, row.value));
    j["status"] = rowStatusWord(row.lastStatus);
    const long long at = row.reads > 0 ? now.wallMs - (now.monoMs - row.lastReadMs) : now.wallMs;
    j["ts"] = isoUtcText(at);
    return j;
}

nlohmann::json runStatusJson(const RunView &view, const Moment &now)
{
    const RunStats &s = view.stats;
    const double elapsed = (now.monoMs - s.startMs) / 1000.0;
    nlohmann::json failures = nlohmann::json::object();
    for (const auto &f : s.failuresByCode)
        failures[std::to_string(f.first)] = f.second;
    return {{"link", linkStateName(view.link)},
            {"port", view.portText},
            {"exchanges", s.exchanges},
            {"exchanges_per_s", elapsed > 0 ? std::round(s.exchanges / elapsed * 10) / 10 : 0.0},
            {"repeats", s.repeats},
            {"failures", failures},
            {"give_ups", s.giveUps},
            {"once_reads", {{"done", s.onceReadsDone}, {"failed", s.onceReadsFailed}}},
            {"writes", {{"acknowledged", s.writesAcknowledged}, {"failed", s.writesFailed}}},
            {"bytes_dropped", s.bytesDropped},
            {"uptime_s", std::round(elapsed * 10) / 10},
            {"ts", isoUtcText(now.wallMs)}};
}

}  // namespace marovin_host
