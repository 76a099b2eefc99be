// The microsecond timer clock, timers, countdowns and sample rings.
#include "velk/core/timer.h"

#include <cstring>
#include <ctime>

#include "velk/core/memory.h"

namespace velk {

uint64_t timer_to_microseconds(uint64_t value, timer_unit_t unit) {
    switch (unit) {
    case TIMER_Ticks:
    case TIMER_Microseconds: return value;
    case TIMER_Seconds: return value * 1000000u;
    case TIMER_Milliseconds: return value * 1000u;
    }
    return 0;
}

uint64_t timer_from_microseconds(uint64_t microseconds, timer_unit_t unit) {
    switch (unit) {
    case TIMER_Ticks:
    case TIMER_Microseconds: return microseconds;
    case TIMER_Seconds: return microseconds / 1000000u;
    case TIMER_Milliseconds: return microseconds / 1000u;
    }
    return 0;
}

uint64_t timer_now() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

void timer_clear(timer_t& timer) {
    timer.start = 0;
    timer.stop = 0;
}

void timer_start(timer_t& timer) {
    timer.start = timer_now();
    timer.stop = 0;
}

void timer_stop(timer_t& timer) {
    if (timer_is_running(timer))
        timer.stop = timer_now();
}

bool timer_is_running(const timer_t& timer) { return timer.stop < timer.start; }

uint64_t timer_elapsed(const timer_t& timer, timer_unit_t unit) {
    uint64_t end = timer_is_running(timer) ? timer_now() : timer.stop;
    return timer_from_microseconds(end >= timer.start ? end - timer.start : 0, unit);
}

void countdown_clear(countdown_t& countdown) {
    timer_clear(countdown.timer);
    countdown.target = 0;
}

void countdown_start(countdown_t& countdown, uint64_t duration, timer_unit_t unit) {
    timer_start(countdown.timer);
    countdown.target = timer_to_microseconds(duration, unit);
}

void countdown_stop(countdown_t& countdown) { timer_stop(countdown.timer); }

bool countdown_is_running(const countdown_t& countdown) {
    return timer_is_running(countdown.timer);
}

bool countdown_expired(const countdown_t& countdown) {
    return !timer_is_running(countdown.timer) ||
           timer_elapsed(countdown.timer, TIMER_Ticks) > countdown.target;
}

bool timerlog_initialise(timerlog_t& log, uint32_t count, timer_unit_t unit) {
    log = timerlog_t{};
    log.unit = unit;
    if (count == 0)
        return false;
    log.samples =
        static_cast<float*>(memory_alloc(sizeof(float) * count, alignof(float), VELK_TAG));
    if (log.samples == nullptr)
        return false;
    memset(log.samples, 0, sizeof(float) * count);
    log.count = count;
    return true;
}

void timerlog_release(timerlog_t& log) {
    memory_free(log.samples, VELK_TAG);
    log.samples = nullptr;
    log.count = 0;
    log.index = 0;
}

void timerlog_mark(timerlog_t& log) { log.last_mark = timer_now(); }

void timerlog_sample(timerlog_t& log) {
    uint64_t now = timer_now();
    if (log.count == 0)
        return;
    uint64_t elapsed = now >= log.last_mark ? now - log.last_mark : 0;
    log.index = (log.index + 1) % log.count;
    float sample = 0;
    switch (log.unit) {
    case TIMER_Ticks:
    case TIMER_Microseconds: sample = float(elapsed); break;
    case TIMER_Milliseconds: sample = float(elapsed) / 1000.0f; break;
    case TIMER_Seconds: sample = float(elapsed) / 1000000.0f; break;
    }
    log.samples[log.index] = sample;
    log.last_mark = now;
}

float timerlog_latest(const timerlog_t& log) {
    return log.count > 0 ? log.samples[log.index] : 0.0f;
}

float timerlog_average(const timerlog_t& log) {
    if (log.count == 0)
        return 0.0f;
    double sum = 0;
    for (uint32_t i = 0; i < log.count; ++i)
        sum += log.samples[i];
    return float(sum / log.count);
}

} // namespace velk
