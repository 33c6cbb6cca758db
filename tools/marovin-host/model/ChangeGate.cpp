#include "model/ChangeGate.h"

#include <cmath>

namespace marovin_host {

ChangeGate::ChangeGate(const std::vector<TagRow> &rows) : tags_(rows.size())
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        tags_[i].deadband = rows[i].tag.deadband;
        tags_[i].minIntervalMs = rows[i].tag.minIntervalMs;
    }
}

ChangeGate::Verdict ChangeGate::offer(std::size_t i, double value, bool statusChanged, long long nowMs) const
{
    const Tag &t = tags_[i];
    if (!t.sent)
        return Send;
    if (!statusChanged && t.deadband > 0 && std::fabs(value - t.value) < t.deadband)
        return Skip;
    return nowMs - t.atMs < t.minIntervalMs ? Hold : Send;
}

void ChangeGate::sent(std::size_t i, double value, long long nowMs)
{
    Tag &t = tags_[i];
    t.sent = true;
    t.value = value;
    t.atMs = nowMs;
}

long long ChangeGate::dueMs(std::size_t i) const
{
    return tags_[i].atMs + tags_[i].minIntervalMs;
}

}  // namespace marovin_host
