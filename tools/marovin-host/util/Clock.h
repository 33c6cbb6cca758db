// Time as the host uses it: monotonic milliseconds for timing, wall clock for people.
#ifndef MAROVIN_HOST_UTIL_CLOCK_H
#define MAROVIN_HOST_UTIL_CLOCK_H

#include "MonotonicClock.h"

#include <string>

namespace marovin_host {

// The monotonic clock is the transports' own, so that host, port and
// simulator time with one clock.
using marovin_port::monotonicMs;
using marovin_port::monotonicUs;
// Local wall-clock time as HH:MM:SS.mmm: now, or of wallMs.
std::string wallClockText();
std::string wallClockText(long long wallMs);
// Local date and time as YYYY-MM-DDTHH:MM:SS.mmm.
std::string wallDateTimeText();
// Milliseconds since the epoch (wall clock).
long long wallClockMs();
// A wall-clock time as UTC ISO 8601 with milliseconds: 2026-12-06T15:00:00.123Z.
std::string isoUtcText(long long wallMs);
// The same, appended to out without a string of its own.
void appendIsoUtc(std::string &out, long long wallMs);
// The clocks of one moment, to turn the loop's monotonic times into wall time.
struct Moment {
    long long monoMs;
    long long wallMs;
};
Moment momentNow();
// Sleeps for ms milliseconds (a signal may end it early).
void sleepMs(long long ms);
// Sleeps until monotonicUs() reaches `us` (a signal may end it early).
void sleepUntilUs(long long us);

}  // namespace marovin_host

#endif
