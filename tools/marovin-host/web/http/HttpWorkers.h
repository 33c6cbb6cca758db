// The web server's connection threads: a fixed number, and a short queue of
// accepted connections. When the queue is full the server stops accepting
// until a thread is free, so further clients wait in the kernel's backlog
// instead of taking descriptors the link may need.
#ifndef MAROVIN_HOST_WEB_HTTP_HTTP_WORKERS_H
#define MAROVIN_HOST_WEB_HTTP_HTTP_WORKERS_H

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace marovin_host {

class HttpWorkers : public httplib::TaskQueue {
public:
    HttpWorkers(std::size_t threads, std::size_t queued);
    ~HttpWorkers() override;
    // Blocks the accepting thread while the queue is full.
    void enqueue(std::function<void()> fn) override;
    // Runs what is queued, then ends the threads.
    void shutdown() override;

private:
    void work();

    const std::size_t queued_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool shutdown_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace marovin_host

#endif
