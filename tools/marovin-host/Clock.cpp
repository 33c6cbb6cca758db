// Clock readings and sleeping.
#include "Clock.h"

#include <sys/prctl.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <time.h>

namespace marovin_host {

namespace {

// Local broken-down time and milliseconds of now.
void localNow(std::tm *tm, int *ms)
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    const time_t seconds = tv.tv_sec;
    localtime_r(&seconds, tm);
    *ms = static_cast<int>(tv.tv_usec / 1000);
}

}  // namespace

std::string wallClockText()
{
    return wallClockText(wallClockMs());
}

std::string wallClockText(long long wallMs)
{
    const time_t seconds = static_cast<time_t>(wallMs / 1000);
    std::tm tm;
    localtime_r(&seconds, &tm);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(wallMs % 1000));
    return buffer;
}

std::string wallDateTimeText()
{
    std::tm tm;
    int ms = 0;
    localNow(&tm, &ms);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return buffer;
}

long long wallClockMs()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

std::string isoUtcText(long long wallMs)
{
    const time_t seconds = static_cast<time_t>(wallMs / 1000);
    std::tm tm;
    gmtime_r(&seconds, &tm);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(wallMs % 1000));
    return buffer;
}

void sleepMs(long long ms)
{
    if (ms <= 0)
        return;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    nanosleep(&ts, nullptr);
}

void sleepUntilUs(long long us)
{
    // The default timer slack would lengthen each pause by up to 50 us.
    static const bool fineTimers = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)fineTimers;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(us / 1000000);
    ts.tv_nsec = static_cast<long>((us % 1000000) * 1000);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

}  // namespace marovin_host
