// Times are absolute on the monotonic clock, so a late wake-up delays one
// character, not every one after it.
#include "LinePace.h"

#include "MonotonicClock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <poll.h>
#include <sys/prctl.h>

namespace marovin_sim {

namespace {

using marovin_port::monotonicNs;

// The longest the last character of a reply is waited for on the clock.
constexpr long long kMaxMarginNs = 500000;
// How long the port is watched for the next request after a reply.
constexpr long long kWatchNs = 300000;

}  // namespace

LinePace::LinePace(int lineRate, const marovin_port::SerialOptions &format, int responseDelayMs,
                   const volatile std::sig_atomic_t *stop)
    : lineRate_(lineRate),
      bitsPerCharacter_(marovin_port::bitsPerCharacter(format)),
      turnaroundNs_(static_cast<long long>(responseDelayMs) * 1000000LL),
      stop_(stop),
      paced_(lineRate > 0 || responseDelayMs > 0)
{
    // The default timer slack (50 us) would be more than half a character at 115,200 baud.
    if (paced_)
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

long long LinePace::lineNs(std::size_t characters) const
{
    if (lineRate_ <= 0)
        return 0;
    return static_cast<long long>(characters) * bitsPerCharacter_ * 1000000000LL / lineRate_;
}

bool LinePace::sleepUntil(long long ns) const
{
    const timespec until{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
    for (;;) {
        if (stop_ && *stop_)
            return false;
        const int rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (rc != EINTR)
            return true;
    }
}

bool LinePace::awaitLast(long long ns)
{
    const long long wakeAt = ns - 2 * lateNs_;
    if (wakeAt > monotonicNs()) {
        if (!sleepUntil(wakeAt))
            return false;
        // Lateness seen, smoothed: the margin follows the machine's wake-up latency.
        const long long late = std::max(0LL, monotonicNs() - wakeAt);
        lateNs_ = std::min((7 * lateNs_ + late) / 8, kMaxMarginNs);
    }
    while (monotonicNs() < ns) {
    }
    return true;
}

void LinePace::awaitRequest(int fd)
{
    arrivedNs_ = 0;
    if (!replied_ || fd < 0)
        return;
    replied_ = false;
    const long long until = monotonicNs() + kWatchNs;
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&p, 1, 0)) == 0 && monotonicNs() < until) {
    }
    // The request is here from this moment; reading it takes the simulator
    // some microseconds that are no line time.
    if (ready > 0)
        arrivedNs_ = monotonicNs();
}

void LinePace::received(std::size_t count)
{
    if (!paced_)
        return;
    // Characters queue behind those still on their way.
    const long long arrived = arrivedNs_ > 0 ? arrivedNs_ : monotonicNs();
    arrivedNs_ = 0;
    receiveEndNs_ = std::max(arrived, receiveEndNs_) + lineNs(count);
    if (lineRate_ > 0)
        sleepUntil(receiveEndNs_);
}

bool LinePace::send(marovin_port::Port &port, const std::uint8_t *bytes, std::size_t count, int extraMs)
{
    if (!paced_) {
        if (extraMs > 0)
            sleepUntil(monotonicNs() + extraMs * 1000000LL);
        return port.write(bytes, count);
    }
    const long long start = std::max(receiveEndNs_ + turnaroundNs_, sendEndNs_) + extraMs * 1000000LL;
    sendEndNs_ = start + lineNs(count);
    std::size_t sent = 0;
    while (sent < count) {
        // Every character whose time has come goes out in one write.
        const long long now = monotonicNs();
        std::size_t due = sent;
        while (due < count && start + lineNs(due + 1) <= now)
            ++due;
        if (due == sent) {
            const long long next = start + lineNs(sent + 1);
            if (sent + 1 < count ? sleepUntil(next) : awaitLast(next))
                continue;
            due = count;  // stopping: the rest at once
        }
        if (!port.write(bytes + sent, due - sent))
            return false;
        sent = due;
    }
    replied_ = lineRate_ > 0;
    return true;
}

}  // namespace marovin_sim
