// Writes from every source (command line, MQTT, web) wait here until the
// exchange loop takes them between two exchanges; each gets exactly one
// result back, on the loop thread.
#ifndef MAROVIN_HOST_WRITE_QUEUE_H
#define MAROVIN_HOST_WRITE_QUEUE_H

#include "VariableArgs.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace marovin_host {

enum class WriteOutcome {
    Acknowledged,  // the PLC answered the write frame
    Cached,        // --write-mode cache: stored in the driver's cache only
    Refused,       // SetRegisterData returned 0: nothing was queued
    GivenUp,       // the PLC did not acknowledge within the repeats
    Dropped        // never sent: its station was given up, or the run ended
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Dropped;
    int status = 0;    // the driver's status for Acknowledged and GivenUp
    std::string text;  // why, for people
    bool ok() const { return outcome == WriteOutcome::Acknowledged || outcome == WriteOutcome::Cached; }
};

// One value to write, already encoded the way SetRegisterData takes it.
struct WriteRequest {
    ValueRef ref;
    std::string bytes;  // least significant byte first
    int count = 0;      // the driver's units: 1 for bits and words, 2 for 32-bit values
    std::string label;  // the tag's name, for notices
    std::string valueText;
    // Called once with the result, on the loop thread; must not block.
    std::function<void(const WriteResult &)> done;
};

// Text of an outcome: "acknowledged", "given up", ...
const char *writeOutcomeName(WriteOutcome outcome);

class WriteQueue {
public:
    static const std::size_t kLimit = 1024;

    // From any thread; false (and nothing queued) when the queue is full.
    bool submit(WriteRequest request);
    // Cheap enough to test on every loop turn.
    bool pending() const { return pending_.load(std::memory_order_relaxed); }
    // The queued requests, oldest first; the queue is empty afterwards.
    std::deque<WriteRequest> take();
    // Whether sources may still add writes after the start (network sources):
    // then an empty queue does not mean there is nothing left to do.
    void keepOpen() { open_ = true; }
    bool open() const { return open_; }

private:
    std::mutex mutex_;
    std::deque<WriteRequest> queue_;
    std::atomic<bool> pending_{false};
    bool open_ = false;
};

}  // namespace marovin_host

#endif
