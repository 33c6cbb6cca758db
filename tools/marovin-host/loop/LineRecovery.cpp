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

void LineRecovery::unusualExchange(bool success, bool complete)
{
    enter(success ? State::Flush : complete ? State::DrainTail : State::DrainReply);
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
    if (state_ != State::Clean)
        watcher.dropped(port.flushInput(), false);
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
        watcher.dropped(late.size(), true);
    }
}

}  // namespace marovin_host
