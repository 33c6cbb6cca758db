// Writes from every source (command line, MQTT, web) wait here until the
// exchange loop takes them between two exchanges; each gets exactly one
// result back, on the loop thread.
#ifndef MAROVIN_HOST_WRITES_WRITE_QUEUE_H
#define MAROVIN_HOST_WRITES_WRITE_QUEUE_H

#include "writes/WriteRequest.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

class WriteQueue {
public:
    static const std::size_t kLimit = 1024;

    // From any thread; false (and nothing queued) when the queue is full.
    bool submit(WriteRequest request);
    // All of them or, when the queue has no room for all, none (false).
    bool submitAll(std::vector<WriteRequest> &requests);
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
