// The historian (--historian): a thread that takes the store's values in read
// order and writes them to PostgreSQL in batches, and confirms each batch
// once committed. While the database is away the values wait in the store;
// after a reconnect the backlog drains first in, first out.
#ifndef MAROVIN_HOST_HISTORIAN_HISTORIAN_H
#define MAROVIN_HOST_HISTORIAN_HISTORIAN_H

#include "config/StoreOptions.h"
#include "historian/PgWriter.h"
#include "loop/Output.h"
#include "store/Outbox.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace marovin_host {

class Historian : public Output {
public:
    // Starts the thread for the completed options; it connects on its own.
    Historian(const HistorianOptions &options, Outbox &outbox);
    ~Historian() override;

    void collectNotices(std::vector<Notice> &out) override;
    // Delivers what it can within a short wait, then stops.
    void finish(const RunView &view) override;
    long long written() const { return written_.load(std::memory_order_relaxed); }

private:
    void run();
    // Connects (again) and learns the gateway's place; false after a failure told.
    bool connect(std::int64_t *place);
    // Writes one batch; false when the session failed.
    bool deliver(std::vector<StoredValue> &batch, std::int64_t *place);
    // Sleeps up to ms unless stopped.
    void pause(long long ms);
    void tell(const std::string &text);
    void stop();

    const HistorianOptions options_;
    Outbox &outbox_;
    OutboxCursor &cursor_;
    PgWriter writer_;
    std::thread thread_;
    std::atomic<long long> written_{0};
    std::atomic<long long> drainUntilMs_{0};  // finishing: the end of the last wait
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::string> notices_;
    std::string lastTold_;  // the thread's
};

}  // namespace marovin_host

#endif
