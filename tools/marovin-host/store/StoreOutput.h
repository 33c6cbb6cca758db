// The outbox as an output (--store): every change the loop tells is handed
// to a thread of the store's own, which commits what came in at least every
// 100 ms, keeps the store within its bounds, and fills its consumers'
// cursors. A store that cannot be used is said once and replaced by one in
// memory: live values never wait for the disk.
#ifndef MAROVIN_HOST_STORE_STORE_OUTPUT_H
#define MAROVIN_HOST_STORE_STORE_OUTPUT_H

#include "config/StoreOptions.h"
#include "loop/Output.h"
#include "store/Outbox.h"
#include "store/StoreCursor.h"
#include "store/StoreDatabase.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace marovin_host {

class StoreOutput : public Output, public Outbox {
public:
    // Opens the store for the run's rows (which must outlive it); never
    // fails: a store that cannot be opened is one in memory, with a notice.
    StoreOutput(const StoreOptions &options, const std::vector<TagRow> &rows);
    ~StoreOutput() override;

    bool wantsChanges() const override { return true; }
    void changed(const ChangeView &view) override;
    void refresh(const RunView &view) override;
    void collectNotices(std::vector<Notice> &out) override;
    // Commits what is waiting (the consumers may still deliver it).
    void finish(const RunView &view) override;
    // Keeps the consumers' last places and closes the store; after every
    // consumer has stopped.
    void close();
    // The summary's line.
    std::string summaryText() const;

    OutboxCursor &cursor(const std::string &consumer) override;
    std::int64_t firstSeqOfLastChange() const override { return firstSeq_; }
    std::string storeId() const override;
    OutboxStats stats() const override;
    std::vector<std::pair<std::string, Backlog>> backlogs() const override;
    bool history(const std::string &tag, long long fromMs, long long toMs, std::size_t maxPoints,
                 HistoryPoints *points, std::string *error) const override;

private:
    void openStore();
    // Opens path under a lock of its own; false with the database's message.
    StoreDatabase::Result openLocked(std::string *why);
    // Moves a damaged store aside and begins a new one in its place.
    void renew(const std::string &why);
    void useMemory(const std::string &why);
    // Ids for the run's tags: the store's own, new ones for the others,
    // written with the next batch. Damaged when the store's tags cannot be read.
    StoreDatabase::Result registerTags();
    // After an open: the id and the state for other threads.
    void opened(const std::string &memoryWhy);
    void start();
    void run();
    // Writes the values that came in and the consumers' places.
    void commit(std::vector<StoreRow> &batch);
    // After a failed write: a damaged store begun anew and the write tried again.
    StoreDatabase::Result recover(StoreDatabase::Result result, const std::vector<StoreRow> &batch,
                                  const std::map<std::string, std::int64_t> &places);
    // Removes the oldest values beyond --store-max-age and the size bound
    // (once a second unless forced), and tells what was dropped.
    void keepBounds(long long nowMs, bool force);
    // Removes the values up to seq, counting those a consumer still wanted.
    void removeThrough(std::int64_t seq);
    // Reads waiting values from disk into the cursors that want them;
    // committedNow: this period's values were just written.
    void fillCursors(bool committedNow);
    void tell(const std::string &text);
    std::map<std::string, std::int64_t> places() const;

    const StoreOptions options_;
    const std::vector<TagRow> &rows_;
    StoreDatabase db_;
    int lockFd_ = -1;
    std::vector<int> tagIds_;  // by row
    std::map<int, StoredTag> tags_;
    std::map<int, StoredTag> unwritten_;  // store thread, after the start
    std::map<std::string, std::unique_ptr<StoreCursor>> cursors_;
    std::int64_t nextSeq_ = 1;   // loop thread
    std::int64_t firstSeq_ = 0;  // loop thread
    bool started_ = false;
    bool closed_ = false;

    // Shared by the loop and the store's thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // the store's thread
    std::condition_variable flushedCv_;
    std::string memoryWhy_;  // why the store is in memory; empty on disk
    std::string storeId_;
    std::vector<StoreRow> pending_;
    bool stop_ = false;
    bool flush_ = false;
    bool flushed_ = false;
    bool topUp_ = false;
    std::vector<std::string> notices_;
    std::thread thread_;
    std::atomic<long long> kept_{0};
    std::atomic<long long> dropped_{0};
    std::atomic<long long> notKept_{0};

    // The store's thread only (and the loop before it starts).
    std::vector<StoreRow> retry_;
    std::map<std::string, std::int64_t> placesWritten_;
    std::int64_t lastCommitted_ = 0;
    std::int64_t firstHeld_ = 0;
    long long retryAtMs_ = 0;  // failing: the next attempt (monotonic)
    long long boundsAtMs_ = 0;
    bool failing_ = false;
    long long droppedTold_ = 0;
    long long droppedAtMs_ = 0;
};

}  // namespace marovin_host

#endif
