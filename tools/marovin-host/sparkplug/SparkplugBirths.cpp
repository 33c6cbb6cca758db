// What the edge node publishes, made on the loop's thread with mutex_ held:
// births, data by exception, deaths. seq counts every message but NDEATH,
// 0 at NBIRTH, 255 to 0.
#include "sparkplug/SparkplugNode.h"

#include "model/Status.h"
#include "model/ValueText.h"
#include "util/Clock.h"

namespace marovin_host {

namespace {

using marovin::sparkplug::DataType;

const unsigned kLinkUpAlias = 2;
// The node's counters, aliases 3 on, in the order of Figures::values.
const char *const kCounterNames[] = {"Link/Exchanges", "Link/Failures", "Link/Give-ups",
                                     "Commands/Bad", "Commands/Writes refused", "Commands/Writes failed"};
// Node metrics that did not change go out at most this often.
const long long kNodeDataEveryMs = 10000;

// The wall-clock time of row's last read (now before any).
long long readWallMs(const TagRow &row, long long nowMs, long long wallMs)
{
    return row.reads > 0 ? wallMs - (nowMs - row.lastReadMs) : wallMs;
}

}  // namespace

std::string SparkplugNode::deathPayload(int bdSeq) const
{
    SpPayload p;
    SpMetric *m = p.add_metrics();
    m->set_name("bdSeq");
    m->set_datatype(DataType::Int64);
    m->set_long_value(static_cast<unsigned>(bdSeq));
    return p.SerializeAsString();
}

bool SparkplugNode::send(const std::string &topic, bool withSeq, int *mid)
{
    return send(payload_, bytes_, topic, withSeq, mid);
}

bool SparkplugNode::send(SpPayload &payload, std::string &bytes, const std::string &topic, bool withSeq, int *mid)
{
    payload.set_timestamp(static_cast<unsigned long long>(wallClockMs()));
    if (withSeq) {
        payload.set_seq(static_cast<unsigned>(seq_));
        seq_ = (seq_ + 1) % 256;
    }
    payload.SerializeToString(&bytes);
    return connection_->publish(topic, bytes, false, false, 0, mid);
}

void SparkplugNode::publishBirths(const std::vector<TagRow> &rows, long long nowMs)
{
    seq_ = 0;
    publishNodeBirth();
    sentFigures_ = figures_;
    figuresAtMs_ = nowMs;
    held_.assign(held_.size(), 0);
    heldCount_ = 0;
    std::size_t stations = 0;
    for (std::size_t slot = 0; slot < watch_.count(); ++slot) {
        birthed_[slot] = 0;
        if (watch_.up(slot)) {
            publishDeviceBirth(slot, rows, nowMs);
            ++stations;
        }
    }
    notices_.emplace_back(Notice::Info, "Sparkplug: NBIRTH (bdSeq " + std::to_string(bdSeq_) + ") and " +
                                            std::to_string(stations) + " DBIRTH as " + options_.group + "/" +
                                            options_.node);
}

void SparkplugNode::publishNodeBirth()
{
    payload_.Clear();
    SpMetric *m = payload_.add_metrics();
    m->set_name("bdSeq");
    m->set_datatype(DataType::Int64);
    m->set_long_value(static_cast<unsigned>(bdSeq_));
    m = payload_.add_metrics();
    m->set_name(kRebirthMetric);
    m->set_alias(kRebirthAlias);
    m->set_datatype(DataType::Boolean);
    m->set_boolean_value(false);
    addNodeMetrics(true, nullptr);
    send(nodeTopic_[0], true);
}

// The link's state and the counters: all with names at a birth, only those
// that differ from *last, by alias, in NDATA.
void SparkplugNode::addNodeMetrics(bool birth, const Figures *last)
{
    if (birth || last->linkUp != figures_.linkUp) {
        SpMetric *m = payload_.add_metrics();
        if (birth) {
            m->set_name("Link/Up");
            m->set_datatype(DataType::Boolean);
        }
        m->set_alias(kLinkUpAlias);
        m->set_boolean_value(figures_.linkUp);
    }
    for (int k = 0; k < 6; ++k) {
        if (!birth && last->values[k] == figures_.values[k])
            continue;
        SpMetric *m = payload_.add_metrics();
        if (birth) {
            m->set_name(kCounterNames[k]);
            m->set_datatype(DataType::UInt64);
        }
        m->set_alias(kLinkUpAlias + 1 + static_cast<unsigned>(k));
        m->set_long_value(figures_.values[k]);
    }
}

void SparkplugNode::publishNodeData(bool all)
{
    const long long now = monotonicMs();
    const bool linkChanged = sentFigures_.linkUp != figures_.linkUp;
    if (!all && !linkChanged && now - figuresAtMs_ < kNodeDataEveryMs)
        return;
    payload_.Clear();
    addNodeMetrics(false, &sentFigures_);
    sentFigures_ = figures_;
    figuresAtMs_ = now;
    if (payload_.metrics_size() > 0)
        send(nodeTopic_[2], true);
}

void SparkplugNode::publishDeviceBirth(std::size_t slot, const std::vector<TagRow> &rows, long long nowMs)
{
    const long long wallMs = momentNow().wallMs;
    payload_.Clear();
    for (const std::uint32_t i : watch_.rowsOf(slot)) {
        const TagRow &row = rows[i];
        SpMetric *m = payload_.add_metrics();
        m->set_name(row.tag.name);
        m->set_alias(kFirstTagAlias + i);
        m->set_timestamp(static_cast<unsigned long long>(readWallMs(row, nowMs, wallMs)));
        m->set_datatype(types_[i]);
        setTagValue(m, row, types_[i]);
        if (row.reads > 0)
            gate_.sent(i, publishedNumber(row.ref.area, row.tag, row.value), nowMs);
        heldCount_ -= held_[i];
        held_[i] = 0;
    }
    birthed_[slot] = 1;
    send(deviceTopics_[3 * slot], true);
}

void SparkplugNode::publishDeviceDeath(std::size_t slot)
{
    payload_.Clear();
    birthed_[slot] = 0;
    send(deviceTopics_[3 * slot + 1], true);
    notices_.emplace_back(Notice::Info, "Sparkplug: DDEATH station" + std::to_string(watch_.number(slot)) + " (" +
                                            watch_.downWord(slot) + ")");
}

void SparkplugNode::applyTurn(const StationWatch::Turn &turn, const std::vector<TagRow> &rows, long long nowMs)
{
    for (const std::size_t slot : turn.down) {
        if (birthed_[slot])
            publishDeviceDeath(slot);
    }
    for (const std::size_t slot : turn.up) {
        if (!birthed_[slot])
            publishDeviceBirth(slot, rows, nowMs);
    }
}

bool SparkplugNode::offerRow(std::uint32_t i, const TagRow &row, long long readWallMs, long long nowMs)
{
    const double value = publishedNumber(row.ref.area, row.tag, row.value);
    const ChangeGate::Verdict verdict = gate_.offer(i, value, false, nowMs);
    if (verdict == ChangeGate::Skip)
        return false;
    if (verdict == ChangeGate::Hold) {
        heldCount_ += held_[i] ? 0 : 1;
        held_[i] = 1;
        return false;
    }
    SpMetric *m = payload_.add_metrics();
    m->set_alias(kFirstTagAlias + i);
    m->set_timestamp(static_cast<unsigned long long>(readWallMs));
    setTagValue(m, row, types_[i]);
    gate_.sent(i, value, nowMs);
    heldCount_ -= held_[i];
    held_[i] = 0;
    return true;
}

// Changes held back by their min-interval, once it has ended.
void SparkplugNode::publishHeld(const std::vector<TagRow> &rows, long long nowMs, long long wallMs)
{
    for (std::size_t slot = 0; slot < watch_.count(); ++slot) {
        if (!birthed_[slot])
            continue;
        payload_.Clear();
        for (const std::uint32_t i : watch_.rowsOf(slot)) {
            if (!held_[i] || gate_.dueMs(i) > nowMs)
                continue;
            held_[i] = 0;
            --heldCount_;
            offerRow(i, rows[i], readWallMs(rows[i], nowMs, wallMs), nowMs);
        }
        if (payload_.metrics_size() > 0)
            send(deviceTopics_[3 * slot + 2], true);
    }
}

}  // namespace marovin_host
