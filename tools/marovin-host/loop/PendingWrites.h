// The loop's side of the write queue: hands queued writes to the driver
// between exchanges and gives each its one result when its fate is known.
#ifndef MAROVIN_HOST_LOOP_PENDING_WRITES_H
#define MAROVIN_HOST_LOOP_PENDING_WRITES_H

#include "driver/Driver.h"
#include "model/RunStats.h"
#include "writes/WriteQueue.h"

#include <deque>
#include <functional>
#include <map>
#include <string>

namespace marovin_host {

class PendingWrites {
public:
    // failed hears of every write that ended without success, for people.
    PendingWrites(Driver &driver, bool cacheOnly, WriteQueue &queue, RunStats &stats,
                  std::function<void(const std::string &)> failed)
        : driver_(driver), cacheOnly_(cacheOnly), queue_(queue), stats_(stats), failed_(std::move(failed))
    {
    }

    // Whether the loop should call take() before its next exchange.
    bool due() const { return queue_.pending() || !held_.empty(); }
    // Takes queued writes and hands them to the driver. A write to a place that
    // already has one in the driver waits for it: the driver would merge the two
    // and one of them would never be answered.
    void take();
    // The driver finished the write variable ownerId with status.
    void finished(int ownerId, int status);
    // The driver dropped every write of station (every station when all).
    void dropStation(int station, bool all);
    // The run ends: whatever has no result yet gets Dropped.
    void dropAll(const std::string &why);
    // Whether a write waits for its result.
    bool busy() const { return !inDriver_.empty() || !held_.empty() || queue_.pending(); }
    // Whether sources may still send writes.
    bool mayGetMore() const { return queue_.open(); }

private:
    void answer(WriteRequest &request, WriteOutcome outcome, int status, const std::string &text);
    bool placeBusy(const ValueRef &ref) const;

    Driver &driver_;
    bool cacheOnly_;
    WriteQueue &queue_;
    RunStats &stats_;
    std::function<void(const std::string &)> failed_;
    std::deque<WriteRequest> held_;
    std::map<int, WriteRequest> inDriver_;  // by ownerId
    int nextOwnerId_ = 0;
};

}  // namespace marovin_host

#endif
