// Time as the host uses it: monotonic milliseconds for timing, wall clock for people.
#ifndef MAROVIN_HOST_CLOCK_H
#define MAROVIN_HOST_CLOCK_H

#include <string>

namespace marovin_host {

// Milliseconds on the monotonic clock.
long long monotonicMs();
// Local wall-clock time as HH:MM:SS.mmm.
std::string wallClockText();
// Local date and time as YYYY-MM-DDTHH:MM:SS.mmm.
std::string wallDateTimeText();
// Sleeps for ms milliseconds (a signal may end it early).
void sleepMs(long long ms);

}  // namespace marovin_host

#endif
