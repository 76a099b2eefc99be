// Calendar date-time in local time with microsecond resolution.
#include "velk/core/datetime.h"

#include <ctime>
#include <sys/time.h>

namespace velk {
namespace {

void recompute(datetime_t& dt) {
    time_t seconds = time_t(dt.time / 1000000u);
    struct tm local;
    if (localtime_r(&seconds, &local) == nullptr) {
        datetime_clear(dt);
        return;
    }
    dt.year = local.tm_year + 1900;
    dt.month = local.tm_mon + 1;
    dt.day = local.tm_mday;
    dt.hour = local.tm_hour;
    dt.minute = local.tm_min;
    dt.second = local.tm_sec;
    dt.microsecond = int32_t(dt.time % 1000000u);
}

} // namespace

void datetime_clear(datetime_t& dt) { dt = datetime_t{}; }

void datetime_set_now(datetime_t& dt) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    dt.time = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_usec);
    recompute(dt);
}

void datetime_set(datetime_t& dt, uint64_t value, timer_unit_t unit) {
    dt.time = timer_to_microseconds(value, unit);
    recompute(dt);
}

void datetime_add(datetime_t& dt, uint64_t value, timer_unit_t unit) {
    dt.time += timer_to_microseconds(value, unit);
    recompute(dt);
}

uint64_t datetime_diff(const datetime_t& a, const datetime_t& b, timer_unit_t unit) {
    return timer_from_microseconds(b.time - a.time, unit);
}

} // namespace velk
