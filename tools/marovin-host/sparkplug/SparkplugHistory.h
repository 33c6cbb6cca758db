// What the edge node owes the outbox (with --store): the values read while
// no session was born go out after the births as DDATA whose metrics are
// is_historical, in read order, by alias, with the read time; the changes
// sent live are noted so that they do not go twice. Sparkplug sends data at
// QoS 0, which nothing acknowledges: a value counts as delivered once
// libmosquitto has written it and the session has stayed up for a second
// after, so that what was in flight when a session was lost goes again, as
// history (at least once). Every call with the node's mutex held.
#ifndef MAROVIN_HOST_SPARKPLUG_SPARKPLUG_HISTORY_H
#define MAROVIN_HOST_SPARKPLUG_SPARKPLUG_HISTORY_H

#include "model/StationWatch.h"
#include "model/TagRow.h"
#include "sparkplug/MetricValues.h"
#include "store/Outbox.h"

#include <climits>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace marovin_host {

class SparkplugHistory {
public:
    SparkplugHistory(Outbox &outbox, const std::vector<TagRow> &rows, const std::vector<SpType> &types);

    // Loop thread: the seq of change k of the view just told.
    std::int64_t seqOf(std::size_t k) const { return outbox_.firstSeqOfLastChange() + static_cast<std::int64_t>(k); }
    // A change not owed to the broker: kept back by its gate, or no data of a station that is down.
    void passed(std::int64_t seq) { cursor_.confirm(seq); }
    // The DDATA of mid carries these values; live: sent as they were read.
    void handedOver(int mid, const std::vector<std::int64_t> &seqs, bool live);
    // Historical messages handed over and not yet written.
    std::size_t unwritten() const { return historyUnwritten_; }
    // Connection thread: libmosquitto wrote message mid.
    void written(int mid, long long nowMs);
    // Connection thread, while connected: confirms what has stayed written long enough.
    void settle(long long nowMs);
    // After a clean stop: everything written is delivered.
    void settleAll() { settle(LLONG_MAX); }
    // Connection thread: a new session; what the last one may have lost is due again.
    void sessionBegan();
    // The next historical metrics of one station into *payload, in read
    // order, and their seqs into *seqs; *slot: the station's. False when
    // none can go now: none waits, or the next one's station has no birth
    // (the history waits for it, in read order).
    bool next(const StationWatch &watch, const std::vector<std::uint8_t> &birthed, SpPayload *payload,
              std::size_t *slot, std::vector<std::int64_t> *seqs);

private:
    // The row of a stored tag: the same name, station, area and address; -1 for none.
    int rowOf(const StoredTag *tag);

    Outbox &outbox_;
    OutboxCursor &cursor_;
    const std::vector<TagRow> &rows_;
    const std::vector<SpType> &types_;
    std::unordered_map<const StoredTag *, int> rowOfTag_;
    struct Pending {
        bool live = false;
        std::vector<std::int64_t> seqs;
    };
    std::unordered_map<int, Pending> pending_;  // by mid
    std::size_t historyUnwritten_ = 0;
    std::deque<std::pair<long long, std::vector<std::int64_t>>> settling_;  // written at, seqs
    std::vector<StoredValue> batch_;  // taken from the cursor
    std::size_t at_ = 0;              // the next of batch_ to send
};

}  // namespace marovin_host

#endif
