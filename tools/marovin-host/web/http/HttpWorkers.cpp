#include "web/http/HttpWorkers.h"

namespace marovin_host {

HttpWorkers::HttpWorkers(std::size_t threads, std::size_t queued) : queued_(queued)
{
    for (std::size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

HttpWorkers::~HttpWorkers()
{
    shutdown();
}

void HttpWorkers::enqueue(std::function<void()> fn)
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return jobs_.size() < queued_ || shutdown_; });
        jobs_.push_back(std::move(fn));
    }
    changed_.notify_all();
}

void HttpWorkers::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutdown_ = true;
    }
    changed_.notify_all();
    for (std::thread &t : threads_) {
        if (t.joinable())
            t.join();
    }
}

// One thread: takes connections until shut down and nothing is left.
void HttpWorkers::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !jobs_.empty() || shutdown_; });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        changed_.notify_all();
        job();
    }
}

}  // namespace marovin_host
