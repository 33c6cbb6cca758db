// What the web panel tells of the store: history reaching back as far as the
// store holds, its state in /api/status and its metrics.
#include "web/routes/StoreRoutes.h"

#include "json/JsonText.h"
#include "util/Clock.h"
#include "web/routes/MetricsText.h"

#include <cmath>
#include <cstdlib>

namespace marovin_host {

namespace {

// At most this many points per answer: a trend's width in pixels, twice over.
const std::size_t kMaxPoints = 4000;
// The end of year 9999: beyond it no time is written, and strtoll's overflow lands there.
const long long kLastMs = 253402300800000LL;

// A parameter as milliseconds since the epoch; fallback when absent.
bool millis(const httplib::Request &req, const char *name, long long fallback, long long *out)
{
    if (!req.has_param(name)) {
        *out = fallback;
        return true;
    }
    const std::string text = req.get_param_value(name);
    char *end = nullptr;
    *out = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && *out >= 0 && *out < kLastMs;
}

}  // namespace

int historyJson(const WebContext &ctx, long index, const httplib::Request &req, nlohmann::json *points)
{
    long long from = 0;
    long long to = 0;
    if (!millis(req, "from", 0, &from) || !millis(req, "to", wallClockMs(), &to) || from > to) {
        *points = "from and to are milliseconds since 1970, from <= to";
        return 400;
    }
    const bool ranged = req.has_param("from") || req.has_param("to");
    HistoryPoints kept;
    std::string error;
    if (ranged && ctx.store && ctx.store->history(ctx.rows[index].tag.name, from, to, kMaxPoints, &kept, &error)) {
        *points = nlohmann::json::array();
        for (const auto &p : kept)
            points->push_back({p.first, numberJson(p.second)});
        return 200;
    }
    // Without a store (or one in memory only): the samples the panel keeps.
    *points = nlohmann::json::array();
    for (const nlohmann::json &p : ctx.history.points(static_cast<std::size_t>(index))) {
        const long long at = p[0].get<long long>();
        if (!ranged || (at >= from && at <= to))
            points->push_back(p);
    }
    return 200;
}

nlohmann::json storeStatusJson(const Outbox &store)
{
    const OutboxStats s = store.stats();
    nlohmann::json j = {{"on_disk", s.onDisk}, {"kept", s.kept}, {"dropped", s.dropped}, {"not_kept", s.notKept}};
    const long long now = wallClockMs();
    for (const auto &b : store.backlogs())
        j["backlog"][b.first] = {{"values", b.second.values},
                                 {"oldest_s", b.second.oldestMs ? (now - b.second.oldestMs) / 1000.0 : 0.0}};
    return j;
}

std::string storeMetricsText(const Outbox &store)
{
    const OutboxStats s = store.stats();
    std::string out;
    const struct {
        const char *name;
        const char *help;
        long long value;
    } counters[] = {
        {"marovin_store_kept_total", "Values committed to the store.", s.kept},
        {"marovin_store_dropped_total", "Values removed by a bound of the store before every consumer had them.",
         s.dropped},
        {"marovin_store_not_kept_total", "Values that could not be stored.", s.notKept},
    };
    for (const auto &c : counters)
        out += std::string("# HELP ") + c.name + " " + c.help + "\n# TYPE " + c.name + " counter\n" + c.name + " " +
               std::to_string(c.value) + "\n";
    out += "# HELP marovin_store_backlog_values Values kept that a consumer has not confirmed.\n"
           "# TYPE marovin_store_backlog_values gauge\n";
    std::string ages = "# HELP marovin_store_backlog_oldest_seconds Age of the oldest value a consumer has not "
                       "confirmed.\n# TYPE marovin_store_backlog_oldest_seconds gauge\n";
    const long long now = wallClockMs();
    for (const auto &b : store.backlogs()) {
        const std::string label = "{consumer=\"" + metricLabelValue(b.first) + "\"} ";
        out += "marovin_store_backlog_values" + label + std::to_string(b.second.values) + "\n";
        ages += "marovin_store_backlog_oldest_seconds" + label +
                std::to_string(b.second.oldestMs ? (now - b.second.oldestMs) / 1000.0 : 0.0) + "\n";
    }
    return out + ages;
}

}  // namespace marovin_host
