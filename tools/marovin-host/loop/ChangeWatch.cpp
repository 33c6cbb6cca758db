// Changes as they are read: after a good read the rows of its variable are
// fetched unless the reply was the same as last time, and a row whose value
// differs from the one told before (or that is read again after a give-up)
// is told to the outputs at once, with the exchange's end as its read time.
// Repeats pending are no change: only a give-up is.
#include "loop/Loop.h"

#include <cstring>

namespace marovin_host {

namespace {

// A hash of a reply, eight bytes a step (FNV-1a's prime and a shift to mix
// downwards): a good reply equal to the last one of its variable holds the
// same value, so nothing needs fetching. Never 0, which stands for none.
std::uint64_t hashReply(const QByteArray &reply)
{
    const char *bytes = reply.constData();
    const std::size_t size = static_cast<std::size_t>(reply.size());
    std::uint64_t h = 1469598103934665603ULL ^ size;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = (h ^ word) * 1099511628211ULL;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    for (; i < size; ++i)
        tail = tail << 8 | static_cast<unsigned char>(bytes[i]);
    h = (h ^ tail) * 1099511628211ULL;
    h ^= h >> 29;
    return h | 1;
}

}  // namespace

void Loop::watchRun(RowIndex::Run &run, bool counted)
{
    const long long readMs = monotonicMs();
    const std::uint64_t hash = counted ? hashReply(replyBytes_) : 0;
    const bool sameReply = counted && run.replyHash == hash;
    run.replyHash = hash;
    TagRow *const *rows = index_.rowsOf(run);
    for (std::uint32_t i = 0; i < run.count; ++i) {
        TagRow &row = *rows[i];
        const std::uint32_t index = static_cast<std::uint32_t>(&row - run_.rows.data());
        Told &told = told_[index];
        if (!counted) {
            if (!told.told || told.good) {
                told.told = true;
                told.good = false;
                changed_.push_back(index);
            }
            continue;
        }
        row.lastReadMs = readMs;
        if (sameReply && told.told && told.good)
            continue;
        if (!driver_.fetchRow(index, &row))
            continue;
        if (told.told && told.good && told.raw == row.value.raw)
            continue;
        told.told = true;
        told.good = true;
        told.raw = row.value.raw;
        changed_.push_back(index);
    }
    if (!changed_.empty())
        tellChanges(readMs);
}

void Loop::tellChanges(long long readMs)
{
    // Outputs want the read time on the wall clock too.
    const Moment now = momentNow();
    const Moment at{readMs, now.wallMs - (now.monoMs - readMs)};
    outputs_.changed(ChangeView{run_.rows, changed_.data(), changed_.size(), at});
    changed_.clear();
}

}  // namespace marovin_host
