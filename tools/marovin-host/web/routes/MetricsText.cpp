// Counters end in _total; a tag's labels name it the way the table does.
#include "web/routes/MetricsText.h"

#include "model/Areas.h"
#include "model/ValueText.h"

#include <algorithm>
#include <cmath>

#include <cstdio>
#include <cstdlib>

namespace marovin_host {

namespace {

// The shortest text that reads back as the same number; Prometheus spells
// what is not finite its own way.
std::string number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    std::string out;
    appendShortest(out, value);
    return out;
}

// The HELP and TYPE lines of a metric.
void family(std::string &out, const char *name, const char *type, const char *help)
{
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// One line: name{labels} value.
void sample(std::string &out, const std::string &name, const std::string &labels, double value)
{
    out += name + (labels.empty() ? "" : "{" + labels + "}") + " " + number(value) + "\n";
}

// A counter without labels, with its HELP and TYPE lines.
void counter(std::string &out, const char *name, const char *help, long long value)
{
    family(out, name, "counter", help);
    sample(out, name, "", static_cast<double>(value));
}

// label="value" for a label list.
std::string label(const char *name, const std::string &value)
{
    return std::string(name) + "=\"" + metricLabelValue(value) + "\"";
}

}  // namespace

std::string metricLabelValue(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string metricsText(const WebSnapshot &snap)
{
    const RunStats &s = snap.stats;
    std::string out;
    family(out, "marovin_link_up", "gauge", "Whether the link to the line is up (1) or not (0).");
    sample(out, "marovin_link_up", "", snap.link == LinkState::Up ? 1 : 0);
    family(out, "marovin_uptime_seconds", "gauge", "Seconds since the exchange loop started.");
    sample(out, "marovin_uptime_seconds", "", (snap.at.monoMs - s.startMs) / 1000.0);
    counter(out, "marovin_exchanges_total", "Requests sent whose reply (or its absence) went to the driver.",
            s.exchanges);
    counter(out, "marovin_cycles_total", "Completed read cycles.", s.cycles);
    counter(out, "marovin_repeats_total", "Replies the driver asked to repeat (status 0).", s.repeats);
    counter(out, "marovin_give_ups_total", "Variables given up after their repeats.", s.giveUps);
    family(out, "marovin_failures_total", "counter", "Variables given up, by the driver's status code.");
    for (const auto &f : s.failuresByCode)
        sample(out, "marovin_failures_total", label("code", std::to_string(f.first)), static_cast<double>(f.second));
    family(out, "marovin_once_reads_total", "counter", "Once-reads by result.");
    sample(out, "marovin_once_reads_total", label("result", "done"), static_cast<double>(s.onceReadsDone));
    sample(out, "marovin_once_reads_total", label("result", "failed"), static_cast<double>(s.onceReadsFailed));
    family(out, "marovin_writes_total", "counter", "Writes by result.");
    sample(out, "marovin_writes_total", label("result", "acknowledged"), static_cast<double>(s.writesAcknowledged));
    sample(out, "marovin_writes_total", label("result", "cached"), static_cast<double>(s.writesCached));
    sample(out, "marovin_writes_total", label("result", "failed"), static_cast<double>(s.writesFailed));
    counter(out, "marovin_sent_bytes_total", "Bytes sent on the line.", s.bytesOut);
    counter(out, "marovin_received_bytes_total", "Bytes received from the line.", s.bytesIn);
    counter(out, "marovin_dropped_bytes_total", "Received bytes dropped as no reply (late, junk or noise).",
            s.bytesDropped);

    family(out, "marovin_tag_value", "gauge", "A tag's last value read, scaled for a scaled tag.");
    for (const TagRow &row : snap.rows) {
        if (row.reads == 0)
            continue;
        const double value = publishedNumber(row.ref.area, row.tag, row.value);
        sample(out, "marovin_tag_value",
               label("tag", row.tag.name) + "," + label("station", std::to_string(row.ref.station)) + "," +
                   label("area", areaName(row.ref.area)) + "," +
                   label("address", addressLabel(row.ref.area, row.ref.address)) + "," + label("unit", row.tag.unit),
               value);
    }
    family(out, "marovin_tag_age_seconds", "gauge", "Seconds since a tag's last good read.");
    // A row may be newer than the snapshot's time (changes laid over it): just read, not read later.
    for (const TagRow &row : snap.rows) {
        if (row.reads > 0)
            sample(out, "marovin_tag_age_seconds", label("tag", row.tag.name),
                   std::max(0LL, snap.at.monoMs - row.lastReadMs) / 1000.0);
    }
    family(out, "marovin_tag_reads_total", "counter", "Good reads of a tag.");
    for (const TagRow &row : snap.rows)
        sample(out, "marovin_tag_reads_total", label("tag", row.tag.name), static_cast<double>(row.reads));
    return out;
}

}  // namespace marovin_host
