// The store's thread: the only user of the store's connection once the run
// has begun. Values that cannot be written (a full disk, say) wait in memory,
// the newest of them up to a bound, and are tried again each second; a
// damaged store is moved aside and begun anew.
#include "store/StoreOutput.h"

#include "util/Clock.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

namespace marovin_host {

namespace {

const auto kPeriod = std::chrono::milliseconds(100);
const long long kBoundsEveryMs = 1000;
const long long kDropNoticeMs = 10000;
// Values kept in memory while the store cannot be written, and how often it is tried.
const std::size_t kMaxRetry = 50000;
const long long kRetryMs = 1000;
// Rows removed at most in one pass, so that a period stays short.
const long long kMaxRemove = 200000;
const long long kMb = 1024 * 1024;

}  // namespace

void StoreOutput::start()
{
    started_ = true;
    thread_ = std::thread([this] {
        // Named, so that its share of the CPU can be told apart (top -H, /proc).
        pthread_setname_np(pthread_self(), "marovin-store");
        run();
    });
}

void StoreOutput::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point due = Clock::now() + kPeriod;
    std::vector<StoreRow> batch;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_until(lock, due, [this] { return stop_ || flush_ || topUp_; });
        topUp_ = false;
        const bool stop = stop_;
        const bool flush = flush_;
        const bool now = stop || flush || Clock::now() >= due;
        if (now)
            batch.swap(pending_);
        lock.unlock();
        if (now) {
            due = Clock::now() + kPeriod;
            commit(batch);
            batch.clear();
            keepBounds(wallClockMs(), false);
        }
        fillCursors(now);
        if (flush) {
            lock.lock();
            flush_ = false;
            flushed_ = true;
            flushedCv_.notify_all();
        }
        if (stop) {
            notKept_.fetch_add(static_cast<long long>(retry_.size()), std::memory_order_relaxed);
            return;
        }
    }
}

std::map<std::string, std::int64_t> StoreOutput::places() const
{
    std::map<std::string, std::int64_t> out;
    for (const auto &c : cursors_)
        out[c.first] = c.second->place();
    return out;
}

void StoreOutput::commit(std::vector<StoreRow> &batch)
{
    if (!retry_.empty()) {
        retry_.insert(retry_.end(), batch.begin(), batch.end());
        batch.swap(retry_);
        retry_.clear();
    }
    const std::map<std::string, std::int64_t> places = this->places();
    if (batch.empty() && places == placesWritten_)
        return;
    // A failing store (a full disk, say) is tried once a second.
    const long long nowMs = monotonicMs();
    StoreDatabase::Result r = StoreDatabase::Failed;
    if (!failing_ || nowMs >= retryAtMs_) {
        r = db_.write(unwritten_, batch, places);
        if (r != StoreDatabase::Ok)
            r = recover(r, batch, places);
        if (r == StoreDatabase::Ok)
            unwritten_.clear();
    }
    if (r != StoreDatabase::Ok) {
        if (!failing_)
            tell("store " + options_.file + ": " + db_.error() + "; the newest " + std::to_string(kMaxRetry) +
                 " values wait in memory, older ones are lost; live values go on");
        if (!failing_ || nowMs >= retryAtMs_)
            retryAtMs_ = nowMs + kRetryMs;
        failing_ = true;
        const std::size_t over = batch.size() > kMaxRetry ? batch.size() - kMaxRetry : 0;
        notKept_.fetch_add(static_cast<long long>(over), std::memory_order_relaxed);
        retry_.assign(batch.begin() + static_cast<long>(over), batch.end());
        return;
    }
    if (failing_)
        tell("store " + options_.file + ": writing again");
    failing_ = false;
    placesWritten_ = places;
    kept_.fetch_add(static_cast<long long>(batch.size()), std::memory_order_relaxed);
    if (!batch.empty()) {
        lastCommitted_ = batch.back().seq;
        if (firstHeld_ == 0)
            firstHeld_ = batch.front().seq;
    }
}

StoreDatabase::Result StoreOutput::recover(StoreDatabase::Result r, const std::vector<StoreRow> &batch,
                                           const std::map<std::string, std::int64_t> &places)
{
    if (r != StoreDatabase::Damaged)
        return r;
    renew(db_.error());
    unwritten_ = tags_;  // a store begun anew keeps the ids
    for (const auto &c : cursors_)
        c.second->restart(lastCommitted_);
    firstHeld_ = 0;
    return db_.write(unwritten_, batch, places);
}

void StoreOutput::keepBounds(long long nowMs, bool force)
{
    if (!force && nowMs - boundsAtMs_ < kBoundsEveryMs)
        return;
    boundsAtMs_ = nowMs;
    if (firstHeld_ != 0) {
        const long long cutoff = nowMs - static_cast<long long>(options_.maxAgeS * 1000);
        const long long oldest = db_.readTimeAfter(firstHeld_ - 1);
        if (oldest != 0 && oldest < cutoff) {
            const std::int64_t from = db_.firstSeqFrom(cutoff);
            removeThrough(std::min(from != 0 ? from - 1 : lastCommitted_, db_.seqAt(kMaxRemove - 1)));
        }
    }
    const long long limit = options_.maxMb * kMb;
    const long long used = db_.usedBytes();
    if (firstHeld_ != 0 && used > limit) {
        // A tenth below the bound, so that the next batches fit without another pass.
        const double share = (used - 0.9 * limit) / used;
        const long long held = lastCommitted_ - firstHeld_ + 1;
        const long long n = std::min(kMaxRemove, std::max(100LL, static_cast<long long>(held * share)));
        removeThrough(db_.seqAt(n - 1));
    }
    if (droppedTold_ != dropped_.load() && nowMs - droppedAtMs_ >= kDropNoticeMs) {
        const long long now = dropped_.load();
        tell("store " + options_.file + ": " + std::to_string(now - droppedTold_) +
             " values dropped before every consumer had them (" +
             "--store-max-mb or --store-max-age reached)");
        droppedTold_ = now;
        droppedAtMs_ = nowMs;
    }
}

void StoreOutput::removeThrough(std::int64_t seq)
{
    std::int64_t keep = lastCommitted_;
    for (const auto &c : cursors_)
        keep = std::min(keep, c.second->place());
    long long removed = 0;
    long long above = 0;
    if (seq <= 0 || db_.removeThrough(seq, keep, &removed, &above) != StoreDatabase::Ok)
        return;
    dropped_.fetch_add(above, std::memory_order_relaxed);
    firstHeld_ = db_.firstSeq();
}

void StoreOutput::fillCursors(bool committedNow)
{
    std::vector<StoreRow> rows;
    std::vector<StoredValue> values;
    for (const auto &entry : cursors_) {
        StoreCursor &c = *entry.second;
        std::int64_t after = 0;
        unsigned generation = 0;
        const std::size_t n = c.wanted(lastCommitted_, committedNow, &after, &generation);
        rows.clear();
        values.clear();
        if (n > 0 && db_.readAfter(after, n, &rows) == StoreDatabase::Ok) {
            for (const StoreRow &r : rows) {
                const auto tag = tags_.find(r.tagId);
                if (tag != tags_.end())
                    values.push_back(StoredValue{r.seq, &tag->second, r.readMs, r.hasValue, r.value, r.status});
            }
            c.fill(values, rows.size() < n ? lastCommitted_ : rows.back().seq, generation);
        }
        c.setBacklog(firstHeld_, lastCommitted_, db_.readTimeAfter(c.place()));
    }
}

}  // namespace marovin_host
