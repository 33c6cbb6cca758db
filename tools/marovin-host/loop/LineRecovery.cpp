#include "loop/LineRecovery.h"

#include "util/Clock.h"

#include <algorithm>
#include <vector>

namespace marovin_host {

void LineRecovery::enter(State state)
{
    state_ = state;
    due_ = state_ != State::Clean || turnaroundUs_ > 0;
}

void LineRecovery::unusualExchange(bool success, int expected, int received)
{
    enter(success ? State::Flush : received == expected ? State::DrainTail : State::DrainReply);
    if (received < expected)
        owedBytes_ += expected - received;
}

void LineRecovery::paid(std::size_t bytes)
{
    owedBytes_ = std::max(0LL, owedBytes_ - static_cast<long long>(std::min<std::size_t>(bytes, 1u << 30)));
}

bool LineRecovery::readOutOfStep(marovin_port::Port &port, int expected, std::vector<std::uint8_t> &out)
{
    if (!port.read(out, expected, timeoutMs_, interByteMs_))
        return false;
    if (out.size() < static_cast<std::size_t>(expected))
        return true;
    // A device owing answers sends them one after another, each within a timeout.
    std::vector<std::uint8_t> behind;
    if (!port.read(behind, -1, timeoutMs_, interByteMs_))
        return false;
    if (behind.empty()) {
        owedBytes_ = 0;
        return true;
    }
    out.insert(out.end(), behind.begin(), behind.end());
    paid(behind.size());
    return true;
}

void LineRecovery::exchangeEnded()
{
    lastExchangeEndUs_ = monotonicUs();
}

void LineRecovery::junkBehindReply()
{
    if (state_ == State::Clean)
        enter(State::Flush);
}

void LineRecovery::reopened()
{
    if (state_ == State::Clean)
        enter(State::Flush);
}

void LineRecovery::prepare(marovin_port::Port &port, LineWatcher &watcher)
{
    if (turnaroundUs_ > 0 && lastExchangeEndUs_ > 0)
        sleepUntilUs(lastExchangeEndUs_ + turnaroundUs_);
    if (state_ == State::DrainTail)
        drainLateReplies(port, watcher, interByteMs_);
    else if (state_ == State::DrainReply)
        drainLateReplies(port, watcher, timeoutMs_);
    if (state_ != State::Clean) {
        const std::size_t flushed = port.flushInput();
        paid(flushed);
        watcher.dropped(flushed, false);
    }
    enter(State::Clean);
}

// Waits until the line has been quiet for quietMs (a whole reply timeout, or
// the inter-byte time after a reply of the expected length: at most the tail
// of a longer, garbled answer can follow), dropping what comes; a line that
// never goes quiet (noise, a peer that talks without pause) is given two such
// periods, and a stop is honoured between reads, each of which lasts at most
// one period.
void LineRecovery::drainLateReplies(marovin_port::Port &port, LineWatcher &watcher, int quietMs)
{
    const long long deadline = monotonicMs() + 2LL * std::max(quietMs, 1);
    std::vector<std::uint8_t> late;
    while (monotonicMs() < deadline && !watcher.stopDue()) {
        if (!port.read(late, -1, quietMs, interByteMs_) || late.empty())
            break;
        paid(late.size());
        watcher.dropped(late.size(), true);
    }
}

}  // namespace marovin_host
