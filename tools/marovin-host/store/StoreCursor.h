// One consumer's place in the outbox: a confirmed watermark (every value up
// to it delivered), the values on their way, those confirmed above the
// watermark, and a buffer of waiting values that the store's thread fills
// from disk so that taking never waits for the disk.
#ifndef MAROVIN_HOST_STORE_STORE_CURSOR_H
#define MAROVIN_HOST_STORE_STORE_CURSOR_H

#include "store/Outbox.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace marovin_host {

class StoreCursor : public OutboxCursor {
public:
    // Values held for taking; below half of it the store is asked for more.
    static const std::size_t kBuffer = 20000;

    // confirmed: the place the store kept; lowWater: called (under no lock
    // of the store) when the buffer runs low.
    StoreCursor(std::string name, std::int64_t confirmed, std::function<void()> lowWater);

    std::size_t take(std::vector<StoredValue> *out, std::size_t max) override;
    void claim(std::int64_t seq) override;
    void confirm(std::int64_t seq) override;
    void release() override;
    bool wait(long long ms) override;
    bool caughtUp() const override;
    Backlog backlog() const override;

    // The store's thread: after which seq to read values for the buffer and
    // how many (0: none wanted up to lastCommitted); *generation to hand to fill.
    // committedNow: a commit was tried in this period, so everything read
    // before it is on disk (or counted lost).
    std::size_t wanted(std::int64_t lastCommitted, bool committedNow, std::int64_t *after, unsigned *generation);
    // The values read after *after, all of them up to through; those that
    // wait go to the buffer.
    void fill(const std::vector<StoredValue> &values, std::int64_t through, unsigned generation);
    // The confirmed watermark, to keep in the store.
    std::int64_t place() const;
    // Values held (on disk up to lastCommitted) that were not confirmed;
    // the read time of the first after the watermark is oldestMs.
    void setBacklog(std::int64_t firstSeq, std::int64_t lastCommitted, long long oldestMs);
    // The store began anew: everything starts from seq.
    void restart(std::int64_t seq);
    const std::string &name() const { return name_; }

private:
    // Moves the watermark up to the lowest value not confirmed (lock held).
    void advance();
    bool done(std::int64_t seq) const { return busy_.count(seq) || confirmed_.count(seq); }

    const std::string name_;
    const std::function<void()> lowWater_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::int64_t watermark_;
    std::int64_t fetched_;  // values up to it are in the buffer or done
    std::int64_t committed_ = 0;  // the last seq on disk the store's thread told
    unsigned committedGeneration_ = 0;  // the generation a commit was told in
    unsigned generation_ = 0;
    std::deque<StoredValue> buffer_;
    std::set<std::int64_t> busy_;       // taken or claimed, not confirmed
    std::set<std::int64_t> confirmed_;  // above the watermark
    Backlog backlog_;
};

}  // namespace marovin_host

#endif
