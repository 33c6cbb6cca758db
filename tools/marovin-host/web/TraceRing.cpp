#include "web/TraceRing.h"

#include "model/FrameText.h"
#include "util/Clock.h"

#include <algorithm>

namespace marovin_host {

TraceRing::TraceRing() : entries_(kLines) {}

void TraceRing::updateCollecting(long long nowMs)
{
    const bool on = leaseUntilMs_.load(std::memory_order_relaxed) > nowMs;
    if (on && !collecting_)
        addEvent("TRACE on for the web panel");
    collecting_ = on;
}

// The oldest entry, to be overwritten; the caller holds the lock.
TraceRing::Entry &TraceRing::nextEntry()
{
    Entry &e = entries_[nextSeq_ % kLines];
    e.seq = nextSeq_++;
    e.wallMs = wallClockMs();
    return e;
}

void TraceRing::addFrame(bool sent, const std::uint8_t *bytes, std::size_t count, int status, const std::string *note)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Entry &e = nextEntry();
    e.kind = sent ? 'T' : 'R';
    e.bytes.assign(bytes, bytes + count);
    e.status = status;
    // Most frames have no note: no string copy for them.
    if (note && !note->empty())
        e.text = *note;
    else
        e.text.clear();
}

void TraceRing::addEvent(const std::string &text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Entry &e = nextEntry();
    e.kind = 'E';
    e.bytes.clear();
    e.text = text;
}

nlohmann::json TraceRing::linesAfter(std::uint64_t seq, long long nowMs)
{
    leaseUntilMs_.store(nowMs + kLeaseMs, std::memory_order_relaxed);
    std::vector<Entry> copy;
    std::uint64_t skipped = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint64_t first = nextSeq_ > kLines ? nextSeq_ - kLines : 1;
        skipped = seq > 0 && seq + 1 < first ? first - seq - 1 : 0;
        for (std::uint64_t s = std::max(seq + 1, first); s < nextSeq_; ++s)
            copy.push_back(entries_[s % kLines]);
        seq = nextSeq_ - 1;
    }
    nlohmann::json lines = nlohmann::json::array();
    if (skipped > 0)
        lines.push_back("... " + std::to_string(skipped) + " lines not kept");
    for (const Entry &e : copy) {
        const std::string time = wallClockText(e.wallMs);
        if (e.kind == 'T')
            lines.push_back(sentFrameLine(time, e.bytes.data(), e.bytes.size()));
        else if (e.kind == 'R')
            lines.push_back(receivedFrameLine(time, e.bytes.data(), e.bytes.size(), e.status, e.text));
        else
            lines.push_back(time + " " + e.text);
    }
    return {{"seq", seq}, {"lines", lines}};
}

}  // namespace marovin_host
