#include "TagJson.h"

#include "Areas.h"
#include "Clock.h"
#include "StatusCode.h"
#include "Tags.h"
#include "ValueCodec.h"

#include <QByteArray>

#include <cmath>

namespace marovin_host {

Moment momentNow()
{
    return Moment{monotonicMs(), wallClockMs()};
}

const char *rowStatusWord(const ValueRow &row)
{
    return row.lastStatus < 0 ? "pending" : statusWord(row.lastStatus);
}

nlohmann::json tagStateJson(const ValueRow &row, const Moment &now)
{
    nlohmann::json j = nlohmann::json::object();
    double value = 0;
    if (row.reads > 0 && tagNumber(row.ref.area, row.tag, row.bytes, &value)) {
        // Whole numbers go out as JSON integers: 1234, not 1234.0.
        if (std::fabs(value) < 9e15 && value == std::floor(value))
            j["value"] = static_cast<long long>(value);
        else
            j["value"] = value;
    }
    j["status"] = rowStatusWord(row);
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

TagDirectory::TagDirectory(const std::vector<ValueRow> &rows)
{
    for (const ValueRow &row : rows)
        byName_.emplace(row.tag.name, &row);
}

const ValueRow *TagDirectory::find(const std::string &name) const
{
    const auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

bool parseWritePayload(const std::string &payload, nlohmann::json *value, std::string *error)
{
    if (payload.size() > kMaxWritePayload) {
        *error = "payload longer than " + std::to_string(kMaxWritePayload) + " bytes";
        return false;
    }
    nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
    if (j.is_object() && j.size() == 1 && j.contains("value"))
        j = j["value"];
    if (!j.is_number() && !j.is_boolean()) {
        *error = "expected a number or {\"value\": number}";
        return false;
    }
    *value = j;
    return true;
}

bool tagWriteRequest(const ValueRow &row, const nlohmann::json &value, WriteRequest *out, std::string *error)
{
    std::string text;
    if (value.is_boolean()) {
        if (row.ref.area != kBits) {
            *error = "true/false only for status bits";
            return false;
        }
        text = value.get<bool>() ? "1" : "0";
    } else if (value.is_number_integer()) {
        text = value.dump();
    } else if (value.is_number()) {
        const double d = value.get<double>();
        if (!std::isfinite(d)) {
            *error = "not a finite number";
            return false;
        }
        if (!row.tag.scaled() && row.ref.area != kDecimalFloat && d != std::floor(d)) {
            *error = "a whole number is needed";
            return false;
        }
        text = formatNumber(d);
    } else {
        *error = "expected a number";
        return false;
    }
    if (row.ref.area == kBits && !isWritableBit(row.ref.address)) {
        *error = "status bit " + std::to_string(row.ref.address) + " cannot be written";
        return false;
    }
    std::string raw;
    QByteArray bytes;
    if (!rawWriteText(row.ref.area, row.tag, text, &raw, error) ||
        !encodeWriteValue(row.ref.area, raw, &bytes, &out->count, error)) {
        *error = "out of range: " + *error;
        return false;
    }
    out->ref = row.ref;
    out->bytes.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    out->label = row.tag.name;
    out->valueText = text;
    return true;
}

}  // namespace marovin_host
