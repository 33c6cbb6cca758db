// The store's side of the loop and of the consumers; its thread is in
// StoreThread.cpp. The file is locked (flock) so that two hosts never share
// one store; SQLite's own locks are of another kind and unaffected.
#include "store/StoreOutput.h"

#include "model/ValueText.h"
#include "util/Clock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace marovin_host {

namespace {

// Values waiting for the disk beyond this are not kept: memory stays bounded
// while the disk fails.
const std::size_t kMaxWaiting = 500000;
const long long kFinishWaitMs = 5000;

}  // namespace

StoreOutput::StoreOutput(const StoreOptions &options, const std::vector<TagRow> &rows)
    : options_(options), rows_(rows)
{
    openStore();
    // Ids read from a damaged table could name other tags' values: such a store begins anew.
    StoreDatabase::Result r = registerTags();
    if (r == StoreDatabase::Damaged) {
        renew(db_.error());
        r = registerTags();
    }
    if (r != StoreDatabase::Ok) {
        useMemory(db_.error());
        registerTags();
    }
    lastCommitted_ = db_.lastSeq();
    firstHeld_ = db_.firstSeq();
    nextSeq_ = lastCommitted_ + 1;
}

StoreOutput::~StoreOutput()
{
    close();
}

StoreDatabase::Result StoreOutput::openLocked(std::string *why)
{
    lockFd_ = ::open(options_.file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0640);
    if (lockFd_ < 0) {
        *why = std::strerror(errno);
        return StoreDatabase::Failed;
    }
    // Closes the file again: the store is not taken, for this reason.
    const auto refuse = [this, why](const char *reason) {
        *why = reason;
        ::close(lockFd_);
        lockFd_ = -1;
        return StoreDatabase::Failed;
    };
    // A device or a pipe given by mistake is never written, renamed or given a journal beside it.
    struct stat st {};
    if (fstat(lockFd_, &st) != 0 || !S_ISREG(st.st_mode))
        return refuse("not a regular file");
    // Nor is a file of something else (a config file): only an empty file or a database is taken.
    char head[16] = {};
    if (st.st_size > 0 && (::pread(lockFd_, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) ||
                           std::memcmp(head, "SQLite format 3", sizeof head) != 0))
        return refuse("not a store (no SQLite database); left as it is");
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0)
        return refuse("in use by another process");
    const StoreDatabase::Result r = db_.open(options_.file);
    *why = db_.error();
    return r;
}

void StoreOutput::openStore()
{
    std::string why;
    const StoreDatabase::Result r = openLocked(&why);
    if (r == StoreDatabase::Damaged)
        renew(why);
    else if (r != StoreDatabase::Ok)
        useMemory(why);
    else
        opened(std::string());
}

void StoreOutput::opened(const std::string &memoryWhy)
{
    std::lock_guard<std::mutex> lock(mutex_);
    memoryWhy_ = memoryWhy;
    storeId_ = db_.storeId();
}

void StoreOutput::renew(const std::string &why)
{
    db_.close();
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".damaged-%lld", wallClockMs());
    const std::string aside = options_.file + suffix;
    std::rename(options_.file.c_str(), aside.c_str());
    for (const char *part : {"-wal", "-shm"})
        std::rename((options_.file + part).c_str(), (aside + part).c_str());
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
    std::string again;
    if (openLocked(&again) != StoreDatabase::Ok)
        return useMemory(why + "; a new one failed too: " + again);
    opened(std::string());
    tell("store " + options_.file + " is damaged (" + why + "): moved to " + aside +
         "; a new store begins, the values of the old one are not delivered");
}

void StoreOutput::useMemory(const std::string &why)
{
    db_.close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
    db_.open(":memory:");
    opened(why);
    tell("store " + options_.file + ": " + why +
         "; values are kept in memory only (lost when the host stops), live values go on");
}

StoreDatabase::Result StoreOutput::registerTags()
{
    tags_.clear();
    unwritten_.clear();
    const StoreDatabase::Result r = db_.tags(&tags_);
    std::map<std::tuple<std::string, int, int, int>, int> ids;
    for (const auto &t : tags_)
        ids[std::make_tuple(t.second.name, t.second.station, t.second.area, t.second.address)] = t.first;
    int last = tags_.empty() ? 0 : tags_.rbegin()->first;
    tagIds_.clear();
    for (const TagRow &row : rows_) {
        const StoredTag t{row.tag.name, row.ref.station, row.ref.area, row.ref.address};
        const auto known = ids.emplace(std::make_tuple(t.name, t.station, t.area, t.address), last + 1);
        if (known.second) {
            tags_[++last] = t;
            unwritten_[last] = t;
        }
        tagIds_.push_back(known.first->second);
    }
    return r;
}

OutboxCursor &StoreOutput::cursor(const std::string &consumer)
{
    std::unique_ptr<StoreCursor> &c = cursors_[consumer];
    if (!c) {
        std::int64_t place = lastCommitted_;
        db_.position(consumer, &place);
        c.reset(new StoreCursor(consumer, place, [this] {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                topUp_ = true;
            }
            wake_.notify_one();
        }));
    }
    return *c;
}

void StoreOutput::changed(const ChangeView &view)
{
    if (!started_)
        start();
    firstSeq_ = nextSeq_;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t k = 0; k < view.count; ++k) {
        const std::uint32_t i = view.changed[k];
        const TagRow &row = view.rows[i];
        if (pending_.size() >= kMaxWaiting) {
            notKept_.fetch_add(1, std::memory_order_relaxed);
            ++nextSeq_;
            continue;
        }
        // Kept as people see it live (0.3, not 0.30000000000000004), so history says the same.
        pending_.push_back(StoreRow{nextSeq_++, tagIds_[i], view.at.wallMs, row.reads > 0,
                                    publishedNumber(row.ref.area, row.tag, row.value), row.lastStatus});
    }
}

void StoreOutput::refresh(const RunView &)
{
    if (!started_)
        start();
}

void StoreOutput::collectNotices(std::vector<Notice> &out)
{
    std::vector<std::string> texts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        texts.swap(notices_);
    }
    for (std::string &text : texts)
        out.emplace_back(Notice::Info, std::move(text));
}

void StoreOutput::finish(const RunView &)
{
    if (!started_)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    flush_ = true;
    flushed_ = false;
    wake_.notify_one();
    flushedCv_.wait_for(lock, std::chrono::milliseconds(kFinishWaitMs), [this] { return flushed_; });
}

void StoreOutput::close()
{
    if (closed_)
        return;
    closed_ = true;
    if (started_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    db_.close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
}

std::string StoreOutput::summaryText() const
{
    const OutboxStats s = stats();
    std::string why;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        why = memoryWhy_;
    }
    std::string text = std::to_string(s.kept) + " values kept, " + std::to_string(s.dropped) +
                       " dropped by its bounds, " + std::to_string(s.notKept) + " could not be kept";
    text += why.empty() ? " (" + options_.file + ")" : " (in memory only: " + why + ")";
    for (const auto &b : backlogs())
        text += "; " + b.first + " backlog " + std::to_string(b.second.values);
    return text;
}

std::string StoreOutput::storeId() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return storeId_;
}

OutboxStats StoreOutput::stats() const
{
    OutboxStats s;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        s.onDisk = memoryWhy_.empty();
    }
    s.kept = kept_.load(std::memory_order_relaxed);
    s.dropped = dropped_.load(std::memory_order_relaxed);
    s.notKept = notKept_.load(std::memory_order_relaxed);
    return s;
}

std::vector<std::pair<std::string, Backlog>> StoreOutput::backlogs() const
{
    std::vector<std::pair<std::string, Backlog>> out;
    for (const auto &c : cursors_)
        out.emplace_back(c.first, c.second->backlog());
    return out;
}

bool StoreOutput::history(const std::string &tag, long long fromMs, long long toMs, std::size_t maxPoints,
                          HistoryPoints *points, std::string *error) const
{
    if (!stats().onDisk) {
        *error = "the store is in memory only";
        return false;
    }
    return readStoreHistory(options_.file, tag, fromMs, toMs, maxPoints, points, error);
}

void StoreOutput::tell(const std::string &text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.push_back(text);
}

}  // namespace marovin_host
