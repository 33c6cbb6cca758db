#include "web/WebWriteSource.h"

#include <chrono>

namespace marovin_host {

WebWriteSource::Wait WebWriteSource::submitAndWait(WriteRequest request, int timeoutMs, WriteResult *result)
{
    auto slot = std::make_shared<Slot>();
    std::shared_ptr<Shared> shared = shared_;
    request.done = [shared, slot](const WriteResult &r) {
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            slot->answered = true;
            slot->result = r;
        }
        shared->answered.notify_all();
    };
    std::unique_lock<std::mutex> lock(shared->mutex);
    // Submitted under the lock, so that close() cannot slip in between.
    if (shared->closed)
        return Wait::Closed;
    if (!queue_.submit(std::move(request)))
        return Wait::QueueFull;
    const bool done = shared->answered.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                [&] { return slot->answered || shared->closed; });
    if (slot->answered) {
        *result = slot->result;
        return Wait::Answered;
    }
    return done ? Wait::Closed : Wait::TimedOut;
}

void WebWriteSource::close()
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->closed = true;
    }
    shared_->answered.notify_all();
}

}  // namespace marovin_host
