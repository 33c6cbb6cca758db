#include "writes/WriteQueue.h"

namespace marovin_host {

const char *writeOutcomeName(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::Acknowledged:
        return "acknowledged";
    case WriteOutcome::Cached:
        return "stored in the cache";
    case WriteOutcome::Refused:
        return "refused by the driver";
    case WriteOutcome::GivenUp:
        return "given up";
    case WriteOutcome::Dropped:
        return "dropped";
    }
    return "?";
}

bool WriteQueue::submit(WriteRequest request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kLimit)
        return false;
    queue_.push_back(std::move(request));
    pending_.store(true, std::memory_order_release);
    return true;
}

bool WriteQueue::submitAll(std::vector<WriteRequest> &requests)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() + requests.size() > kLimit)
        return false;
    for (WriteRequest &r : requests)
        queue_.push_back(std::move(r));
    pending_.store(!queue_.empty(), std::memory_order_release);
    return true;
}

std::deque<WriteRequest> WriteQueue::take()
{
    std::deque<WriteRequest> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(queue_);
    pending_.store(false, std::memory_order_relaxed);
    return taken;
}

}  // namespace marovin_host
