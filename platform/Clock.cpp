// platform/Clock.cpp
// The process's local clock: the machine's local time plus an offset of this process's own.
// Times are handled as "local milliseconds", the local calendar time counted as if it were UTC,
// so that setting and reading go through the same calendar arithmetic (timegm, gmtime_r) and a
// daylight-saving change of the machine moves the emulated clock just as it moves the real one.

#include "platform/win.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace win {
namespace {

constexpr std::int64_t kMsPerSecond = 1000;

std::int64_t floorDivide(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

std::int64_t machineLocalMs()
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local;
    ::localtime_r(&now.tv_sec, &local);
    return static_cast<std::int64_t>(::timegm(&local)) * kMsPerSecond + now.tv_nsec / 1000000;
}

bool isValid(const SYSTEMTIME& t)
{
    static constexpr WORD kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > kDays[t.wMonth - 1] || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
        t.wMilliseconds > 999)
        return false;
    const bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    return t.wMonth != 2 || t.wDay <= 28 || leap;
}

std::int64_t toLocalMs(const SYSTEMTIME& t)
{
    std::tm fields{};
    fields.tm_year = t.wYear - 1900;
    fields.tm_mon = t.wMonth - 1;
    fields.tm_mday = t.wDay;
    fields.tm_hour = t.wHour;
    fields.tm_min = t.wMinute;
    fields.tm_sec = t.wSecond;
    return static_cast<std::int64_t>(::timegm(&fields)) * kMsPerSecond + t.wMilliseconds;
}

// Offset of the process's clock from the machine's, in milliseconds; OX_LOCAL_TIME sets the
// first one.
std::int64_t startingOffset()
{
    const char* start = std::getenv("OX_LOCAL_TIME");
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (start == nullptr ||
        std::sscanf(start, "%u-%u-%u %u:%u:%u", &year, &month, &day, &hour, &minute, &second) < 3)
        return 0;
    const SYSTEMTIME t{static_cast<WORD>(year),
                       static_cast<WORD>(month),
                       0,
                       static_cast<WORD>(day),
                       static_cast<WORD>(hour),
                       static_cast<WORD>(minute),
                       static_cast<WORD>(second),
                       0};
    return isValid(t) ? toLocalMs(t) - machineLocalMs() : 0;
}

std::atomic<std::int64_t>& offset()
{
    static std::atomic<std::int64_t> value{startingOffset()};
    return value;
}

} // namespace

void GetLocalTime(SYSTEMTIME* time)
{
    if (time == nullptr)
        return;
    // The offset first: its first use measures the machine's clock, and a reading taken before
    // that would land before OX_LOCAL_TIME's start.
    const std::int64_t shift = offset().load();
    const std::int64_t ms = machineLocalMs() + shift;
    const std::time_t seconds = static_cast<std::time_t>(floorDivide(ms, kMsPerSecond));
    std::tm fields;
    ::gmtime_r(&seconds, &fields);
    time->wYear = static_cast<WORD>(fields.tm_year + 1900);
    time->wMonth = static_cast<WORD>(fields.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(fields.tm_wday);
    time->wDay = static_cast<WORD>(fields.tm_mday);
    time->wHour = static_cast<WORD>(fields.tm_hour);
    time->wMinute = static_cast<WORD>(fields.tm_min);
    time->wSecond = static_cast<WORD>(fields.tm_sec);
    time->wMilliseconds = static_cast<WORD>(ms - static_cast<std::int64_t>(seconds) * kMsPerSecond);
}

BOOL SetLocalTime(const SYSTEMTIME* time)
{
    if (time == nullptr || !isValid(*time)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    offset().store(toLocalMs(*time) - machineLocalMs());
    return TRUE;
}

} // namespace win
