// Time units, the microsecond timer clock, timers, countdowns and rings of timing
// samples.
#pragma once

#include <cstdint>

namespace velk {

// How a duration argument is read.
enum timer_unit_t : int {
    TIMER_Ticks = 0, // ticks of the timer clock (1,000,000 a second)
    TIMER_Seconds = 1,
    TIMER_Milliseconds = 2,
    TIMER_Microseconds = 3,
};

// A duration in the unit, in microseconds; a unit outside 0 to 3 converts to 0.
uint64_t timer_to_microseconds(uint64_t value, timer_unit_t unit);
// Microseconds in the unit, truncating; a unit outside 0 to 3 gives 0.
uint64_t timer_from_microseconds(uint64_t microseconds, timer_unit_t unit);

// The timer clock: monotonic microseconds.
uint64_t timer_now();

// A timer runs while stop < start; elapsed = stop - start when stopped, now - start
// when running.
struct timer_t {
    uint64_t start = 0;
    uint64_t stop = 0;
};

void timer_clear(timer_t& timer);
void timer_start(timer_t& timer);
void timer_stop(timer_t& timer);
bool timer_is_running(const timer_t& timer);
uint64_t timer_elapsed(const timer_t& timer, timer_unit_t unit);

// Expired when the timer is not running or its elapsed time exceeds the target.
struct countdown_t {
    timer_t timer;
    uint64_t target = 0; // ticks
};

void countdown_clear(countdown_t& countdown);
// Restarts: start = now, stop = 0, target = the duration in ticks.
void countdown_start(countdown_t& countdown, uint64_t duration, timer_unit_t unit);
void countdown_stop(countdown_t& countdown);
bool countdown_is_running(const countdown_t& countdown);
bool countdown_expired(const countdown_t& countdown);

// A ring of timing samples expressed in one unit.
struct timerlog_t {
    timer_t timer;
    timer_unit_t unit = TIMER_Ticks;
    uint32_t index = 0;     // the latest sample
    uint32_t count = 0;     // samples in the ring
    uint64_t last_mark = 0; // tick value of the last mark
    float* samples = nullptr;
};

// Zeroes the record, stores count and unit and allocates the samples (zeroed). False
// when the allocation fails or count is 0 (safe to release).
bool timerlog_initialise(timerlog_t& log, uint32_t count, timer_unit_t unit);
void timerlog_release(timerlog_t& log);
// Marks the start of a measured interval.
void timerlog_mark(timerlog_t& log);
// Ends an interval: stores the time since the mark as the next sample and marks again.
void timerlog_sample(timerlog_t& log);
float timerlog_latest(const timerlog_t& log);
float timerlog_average(const timerlog_t& log);

} // namespace velk
