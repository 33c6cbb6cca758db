// Writes from the web: each request's thread submits its write to the loop's
// queue and waits for the one result the loop gives it.
#ifndef MAROVIN_HOST_WEB_WEB_WRITE_SOURCE_H
#define MAROVIN_HOST_WEB_WEB_WRITE_SOURCE_H

#include "writes/WriteQueue.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace marovin_host {

class WebWriteSource {
public:
    enum class Wait { Answered, TimedOut, Closed, QueueFull };

    explicit WebWriteSource(WriteQueue &queue) : queue_(queue) {}
    // Submits the write and waits up to timeoutMs for its result.
    Wait submitAndWait(WriteRequest request, int timeoutMs, WriteResult *result);
    // The run ended: waiting writes are told at once, new ones refused.
    void close();

private:
    struct Slot {
        bool answered = false;
        WriteResult result;
    };
    // Shared with the done callbacks, which may outlive a request that timed out.
    struct Shared {
        std::mutex mutex;
        std::condition_variable answered;
        bool closed = false;
    };
    WriteQueue &queue_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace marovin_host

#endif
