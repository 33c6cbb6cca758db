#include "sparkplug/SparkplugHistory.h"

#include "model/Status.h"
#include "sparkplug/SparkplugCommands.h"
#include "sparkplug/SparkplugNode.h"
#include "util/Clock.h"

namespace marovin_host {

namespace {

// A lost connection is seen at once on a local network; a second covers
// what was written just before.
const long long kSettleMs = 1000;
const std::size_t kTake = 500;
// Metrics in one historical DDATA.
const std::size_t kMetricsPerMessage = 200;
// Historical DDATA that may wait for the socket: a live one queues behind a few at most.
const std::size_t kHistoryWindow = 4;

}  // namespace

SparkplugHistory::SparkplugHistory(Outbox &outbox, const std::vector<TagRow> &rows, const std::vector<SpType> &types)
    : outbox_(outbox), cursor_(outbox.cursor("sparkplug")), rows_(rows), types_(types)
{
}

void SparkplugHistory::handedOver(int mid, const std::vector<std::int64_t> &seqs, bool live)
{
    if (live) {
        for (const std::int64_t seq : seqs)
            cursor_.claim(seq);
    }
    pending_[mid] = Pending{live, seqs};
    historyUnwritten_ += live ? 0 : 1;
}

void SparkplugHistory::written(int mid, long long nowMs)
{
    const auto it = pending_.find(mid);
    if (it == pending_.end())
        return;
    historyUnwritten_ -= it->second.live ? 0 : 1;
    settling_.emplace_back(nowMs, std::move(it->second.seqs));
    pending_.erase(it);
}

void SparkplugHistory::settle(long long nowMs)
{
    while (!settling_.empty() && nowMs - settling_.front().first >= kSettleMs) {
        for (const std::int64_t seq : settling_.front().second)
            cursor_.confirm(seq);
        settling_.pop_front();
    }
}

void SparkplugHistory::sessionBegan()
{
    pending_.clear();
    historyUnwritten_ = 0;
    settling_.clear();
    batch_.clear();
    at_ = 0;
    cursor_.release();
}

int SparkplugHistory::rowOf(const StoredTag *tag)
{
    const auto known = rowOfTag_.find(tag);
    if (known != rowOfTag_.end())
        return known->second;
    int found = -1;
    for (std::size_t i = 0; i < rows_.size() && found < 0; ++i) {
        const TagRow &row = rows_[i];
        if (row.tag.name == tag->name && row.ref.station == tag->station && row.ref.area == tag->area &&
            row.ref.address == tag->address)
            found = static_cast<int>(i);
    }
    rowOfTag_[tag] = found;
    return found;
}

bool SparkplugHistory::next(const StationWatch &watch, const std::vector<std::uint8_t> &birthed, SpPayload *payload,
                            std::size_t *slot, std::vector<std::int64_t> *seqs)
{
    payload->Clear();
    seqs->clear();
    while (seqs->size() < kMetricsPerMessage) {
        if (at_ == batch_.size()) {
            batch_.clear();
            at_ = 0;
            if (cursor_.take(&batch_, kTake) == 0)
                break;
        }
        const StoredValue &v = batch_[at_];
        const int i = rowOf(v.tag);
        // A tag no longer read, or a read that failed: no data to tell.
        if (i < 0 || !v.hasValue || !isSuccess(v.status)) {
            cursor_.confirm(v.seq);
            ++at_;
            continue;
        }
        const std::size_t s = watch.slotOf(static_cast<std::uint32_t>(i));
        if (!birthed[s] || (!seqs->empty() && s != *slot))
            break;
        *slot = s;
        SpMetric *m = payload->add_metrics();
        m->set_alias(kFirstTagAlias + static_cast<unsigned>(i));
        m->set_timestamp(static_cast<unsigned long long>(v.readMs));
        m->set_is_historical(true);
        setMetricNumber(m, v.value, types_[i]);
        seqs->push_back(v.seq);
        ++at_;
    }
    return !seqs->empty();
}


bool SparkplugNode::publishHistory()
{
    std::lock_guard<std::mutex> lock(mutex_);
    // A session lost before a second was up leaves its last values unconfirmed: they go again.
    if (connection_->connected())
        history_->settle(monotonicMs());
    std::size_t slot = 0;
    while (born() && history_->unwritten() < kHistoryWindow &&
           history_->next(watch_, birthed_, &historyPayload_, &slot, &historySeqs_)) {
        int mid = 0;
        // Not sent: the session is gone, and the next one hands them out again.
        if (!send(historyPayload_, historyBytes_, deviceTopics_[3 * slot + 2], true, &mid))
            return false;
        history_->handedOver(mid, historySeqs_, false);
    }
    return history_->unwritten() > 0;
}

}  // namespace marovin_host
