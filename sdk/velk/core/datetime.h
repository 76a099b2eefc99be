// Calendar date-time with microsecond resolution, in local time.
#pragma once

#include <cstdint>

#include "velk/core/timer.h"

namespace velk {

struct datetime_t {
    uint64_t time = 0; // microseconds since 1970-01-01 00:00 UTC
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int32_t microsecond = 0;
};

// All fields 0.
void datetime_clear(datetime_t& dt);
// These three set `time` and recompute the calendar fields in the local time zone; if
// that fails every field, time included, becomes 0.
void datetime_set_now(datetime_t& dt);
void datetime_set(datetime_t& dt, uint64_t value, timer_unit_t unit);
void datetime_add(datetime_t& dt, uint64_t value, timer_unit_t unit);
// (b.time - a.time) in the unit, truncating.
uint64_t datetime_diff(const datetime_t& a, const datetime_t& b, timer_unit_t unit);

} // namespace velk
