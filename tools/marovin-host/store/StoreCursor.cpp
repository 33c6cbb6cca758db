// Values come out in seq order and each at most once until a release; the
// watermark never passes a value on its way, so after a crash everything
// not confirmed is delivered again (at least once, as QoS 1 allows).
#include "store/StoreCursor.h"

#include <algorithm>
#include <chrono>
#include <iterator>

namespace marovin_host {

StoreCursor::StoreCursor(std::string name, std::int64_t confirmed, std::function<void()> lowWater)
    : name_(std::move(name)), lowWater_(std::move(lowWater)), watermark_(confirmed), fetched_(confirmed)
{
}

std::size_t StoreCursor::take(std::vector<StoredValue> *out, std::size_t max)
{
    std::size_t n = 0;
    bool low;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (n < max && !buffer_.empty()) {
            const StoredValue v = buffer_.front();
            buffer_.pop_front();
            if (done(v.seq))
                continue;
            busy_.insert(v.seq);
            out->push_back(v);
            ++n;
        }
        low = buffer_.size() < kBuffer / 2;
    }
    if (low && lowWater_)
        lowWater_();
    return n;
}

void StoreCursor::claim(std::int64_t seq)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (seq > watermark_)
        busy_.insert(seq);
}

void StoreCursor::confirm(std::int64_t seq)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (seq <= watermark_)
        return;
    busy_.erase(seq);
    confirmed_.insert(seq);
    advance();
}

void StoreCursor::release()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_.clear();
        buffer_.clear();
        fetched_ = watermark_;
        ++generation_;
    }
    if (lowWater_)
        lowWater_();
}

bool StoreCursor::wait(long long ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !buffer_.empty(); });
}

bool StoreCursor::caughtUp() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    // After a release, only once a commit has been told since.
    return buffer_.empty() && fetched_ >= committed_ && committedGeneration_ == generation_;
}

Backlog StoreCursor::backlog() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return backlog_;
}

std::size_t StoreCursor::wanted(std::int64_t lastCommitted, bool committedNow, std::int64_t *after,
                                unsigned *generation)
{
    std::lock_guard<std::mutex> lock(mutex_);
    committed_ = lastCommitted;
    if (committedNow)
        committedGeneration_ = generation_;
    // Values that went out as they were read need no reading back.
    while (fetched_ < lastCommitted && done(fetched_ + 1))
        ++fetched_;
    advance();
    if (fetched_ >= lastCommitted || buffer_.size() >= kBuffer)
        return 0;
    *after = fetched_;
    *generation = generation_;
    return kBuffer - buffer_.size();
}

void StoreCursor::fill(const std::vector<StoredValue> &values, std::int64_t through, unsigned generation)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation != generation_)
            return;
        for (const StoredValue &v : values) {
            if (v.seq > fetched_ && !done(v.seq))
                buffer_.push_back(v);
        }
        fetched_ = std::max(fetched_, through);
        advance();
    }
    arrived_.notify_all();
}

std::int64_t StoreCursor::place() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return watermark_;
}

void StoreCursor::setBacklog(std::int64_t firstSeq, std::int64_t lastCommitted, long long oldestMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t from = std::max(watermark_, firstSeq - 1);
    const long long above = std::distance(confirmed_.begin(), confirmed_.upper_bound(lastCommitted));
    backlog_.values = std::max<long long>(0, lastCommitted - from - above);
    backlog_.oldestMs = backlog_.values > 0 ? oldestMs : 0;
}

void StoreCursor::restart(std::int64_t seq)
{
    std::lock_guard<std::mutex> lock(mutex_);
    watermark_ = fetched_ = seq;
    busy_.clear();
    confirmed_.clear();
    buffer_.clear();
    ++generation_;
}

void StoreCursor::advance()
{
    std::int64_t lowest = fetched_ + 1;
    if (!busy_.empty())
        lowest = std::min(lowest, *busy_.begin());
    if (!buffer_.empty())
        lowest = std::min(lowest, buffer_.front().seq);
    if (lowest - 1 <= watermark_)
        return;
    watermark_ = lowest - 1;
    confirmed_.erase(confirmed_.begin(), confirmed_.upper_bound(watermark_));
}

}  // namespace marovin_host
