// Waiting in the host's tests for what another thread or process does.
#ifndef MAROVIN_TEST_UNTIL_H
#define MAROVIN_TEST_UNTIL_H

#include "util/Clock.h"

#include <functional>

// Polls done, doing turn in between (what the loop would), for up to the
// seconds given. Once true is enough: asked again, a store still writing may
// be past its bound for a moment.
inline bool until(const std::function<bool()> &done, const std::function<void()> &turn = [] {}, int seconds = 5)
{
    for (const long long end = marovin_host::monotonicMs() + 1000LL * seconds; !done(); turn(), marovin_host::sleepMs(5))
        if (marovin_host::monotonicMs() > end)
            return false;
    return true;
}

#endif
