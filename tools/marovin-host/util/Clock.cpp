// Clock readings and sleeping.
#include "util/Clock.h"

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

// The civil date of a day counted from 1970-01-01 (proleptic Gregorian calendar).
void civilFromDays(long long days, long long *year, unsigned *month, unsigned *day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;  // months from March
    *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    *month = shifted < 10 ? shifted + 3 : shifted - 9;
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// Writes value as width decimal digits at out.
void putDigits(char *out, unsigned value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10)
        out[i] = static_cast<char>('0' + value % 10);
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
    std::string out;
    appendIsoUtc(out, wallMs);
    return out;
}

void appendIsoUtc(std::string &out, long long wallMs)
{
    // By hand rather than gmtime_r and snprintf: the MQTT gateway stamps every
    // message, and this is a quarter of the cost.
    long long days = wallMs / 86400000;
    long long ms = wallMs % 86400000;
    if (ms < 0) {
        ms += 86400000;
        --days;
    }
    long long year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, &year, &month, &day);
    if (year < 0 || year > 9999) {
        char wide[64];
        std::snprintf(wide, sizeof wide, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
                      ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        out += wide;
        return;
    }
    char text[] = "YYYY-MM-DDTHH:MM:SS.mmmZ";
    putDigits(text, static_cast<unsigned>(year), 4);
    putDigits(text + 5, month, 2);
    putDigits(text + 8, day, 2);
    putDigits(text + 11, static_cast<unsigned>(ms / 3600000), 2);
    putDigits(text + 14, static_cast<unsigned>(ms / 60000 % 60), 2);
    putDigits(text + 17, static_cast<unsigned>(ms / 1000 % 60), 2);
    putDigits(text + 20, static_cast<unsigned>(ms % 1000), 3);
    out.append(text, sizeof text - 1);
}

Moment momentNow()
{
    return Moment{monotonicMs(), wallClockMs()};
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
