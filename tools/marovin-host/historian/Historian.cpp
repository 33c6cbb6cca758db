// The cursor hands out each value once until a failure releases it; the
// database keeps the gateway's place with each batch, so a batch committed
// just before a lost connection is skipped, not written twice.
#include "historian/Historian.h"

#include "util/Clock.h"

#include <pthread.h>

#include <algorithm>

namespace marovin_host {

namespace {

const std::size_t kBatch = 10000;
const long long kFirstBackOffMs = 500;
const long long kLastBackOffMs = 30000;
const long long kFinishWaitMs = 3000;

}  // namespace

Historian::Historian(const HistorianOptions &options, Outbox &outbox)
    : options_(options), outbox_(outbox), cursor_(outbox.cursor("historian")), writer_(options_)
{
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "marovin-histor");
        run();
    });
}

Historian::~Historian()
{
    stop();
}

void Historian::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Historian::finish(const RunView &)
{
    drainUntilMs_.store(monotonicMs() + kFinishWaitMs);
    if (thread_.joinable())
        thread_.join();
}

void Historian::collectNotices(std::vector<Notice> &out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::string &text : notices_)
        out.emplace_back(Notice::Info, std::move(text));
    notices_.clear();
}

void Historian::tell(const std::string &text)
{
    if (text == lastTold_)
        return;
    lastTold_ = text;
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.push_back(text);
}

void Historian::pause(long long ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool Historian::connect(std::int64_t *place)
{
    std::string error;
    if (!writer_.open(&error) || !writer_.position(outbox_.storeId(), place, &error)) {
        writer_.close();
        tell("historian: cannot write to " + writer_.where() + ": " + error + "; the values wait in the store");
        return false;
    }
    tell("historian: writing to " + writer_.where());
    return true;
}

bool Historian::deliver(std::vector<StoredValue> &batch, std::int64_t *place)
{
    // What the database already holds from before a lost connection.
    const std::int64_t known = *place;
    for (const StoredValue &v : batch) {
        if (v.seq <= known)
            cursor_.confirm(v.seq);
    }
    batch.erase(batch.begin(), std::find_if(batch.begin(), batch.end(),
                                            [known](const StoredValue &v) { return v.seq > known; }));
    if (batch.empty())
        return true;
    std::string error;
    if (!writer_.write(batch, outbox_.storeId(), &error)) {
        writer_.close();
        tell("historian: lost " + writer_.where() + ": " + error + "; the values wait in the store");
        return false;
    }
    for (const StoredValue &v : batch)
        cursor_.confirm(v.seq);
    *place = batch.back().seq;
    written_.fetch_add(static_cast<long long>(batch.size()), std::memory_order_relaxed);
    return true;
}

void Historian::run()
{
    bool open = false;
    long long backOffMs = kFirstBackOffMs;
    std::int64_t place = 0;
    std::vector<StoredValue> batch;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                break;
        }
        const long long until = drainUntilMs_.load();
        if (until != 0 && (monotonicMs() >= until || (open && cursor_.backlog().values == 0 && !cursor_.wait(0))))
            break;
        if (!open && !(open = connect(&place))) {
            pause(until != 0 ? 100 : backOffMs);
            backOffMs = std::min(backOffMs * 2, kLastBackOffMs);
            continue;
        }
        backOffMs = kFirstBackOffMs;
        batch.clear();
        if (cursor_.take(&batch, kBatch) == 0) {
            cursor_.wait(100);
            continue;
        }
        if (!deliver(batch, &place)) {
            open = false;
            cursor_.release();
        }
    }
    writer_.close();
}

}  // namespace marovin_host
