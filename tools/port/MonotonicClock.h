// The monotonic clock the tools time with (the one steady_clock reads), read
// inline and without steady_clock's wrapper: the exchange loop, the
// transports and the simulator's line pace read it on every turn.
#ifndef MAROVIN_TOOLS_MONOTONIC_CLOCK_H
#define MAROVIN_TOOLS_MONOTONIC_CLOCK_H

#include <time.h>

namespace marovin_port {

// Milliseconds on the monotonic clock.
inline long long monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Microseconds on the same clock, for pauses that must not come out a
// millisecond short or long.
inline long long monotonicUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Nanoseconds on the same clock, for pacing characters on a fast line.
inline long long monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

}  // namespace marovin_port

#endif
