// Reopen back-off: 0.1 s, doubling up to 5 s, restarting after each recovery.
#include "line/Link.h"

#include <algorithm>

namespace marovin_host {

namespace {
const long long kFirstBackoffMs = 100;
const long long kLastBackoffMs = 5000;
}  // namespace

Link::Link(std::unique_ptr<marovin_port::Port> port) : port_(std::move(port)) {}

void Link::lost(long long nowMs)
{
    if (state_ != LinkState::Up)
        return;
    state_ = LinkState::Down;
    downSinceMs_ = nowMs;
    backoffMs_ = kFirstBackoffMs;
    nextTryMs_ = nowMs + backoffMs_;
    ++losses_;
}

bool Link::tryReopen(long long nowMs)
{
    if (state_ == LinkState::Up)
        return true;
    if (nowMs < nextTryMs_)
        return false;
    state_ = LinkState::Reconnecting;
    ++attempts_;
    if (port_->reopen()) {
        state_ = LinkState::Up;
        return true;
    }
    backoffMs_ = std::min(backoffMs_ * 2, kLastBackoffMs);
    nextTryMs_ = nowMs + backoffMs_;
    return false;
}

long long Link::msUntilNextTry(long long nowMs) const
{
    return state_ == LinkState::Up ? 0 : std::max(0LL, nextTryMs_ - nowMs);
}

}  // namespace marovin_host
