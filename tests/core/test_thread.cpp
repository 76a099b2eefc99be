// Threads, timers, countdowns, sample rings and date-times.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "log_capture.h"
#include "velk/core/datetime.h"
#include "velk/core/thread.h"
#include "velk/core/timer.h"

using namespace velk;

namespace {

void sleep_ms(void* argument) {
    thread_sleep(*static_cast<uint64_t*>(argument), TIMER_Milliseconds);
}

void count_calls(void* argument) { ++*static_cast<int*>(argument); }

// Waits for ever in a cancellation point: ends only when cancelled. (pause() keeps no
// buffers on the stack: AddressSanitizer misreports the exit of a thread cancelled
// while a frame with guarded locals, such as nanosleep's timespec, was on its stack.)
void sleep_forever(void*) {
    for (;;)
        pause();
}

} // namespace

TEST(Thread, WaitReturnsWhenTheThreadEnds) {
    test_support::LogCapture log;
    thread_t t;
    thread_initialise(t);
    uint64_t ms = 100;
    thread_set(t, sleep_ms, &ms, string_make("sleeper"));
    ASSERT_TRUE(thread_run(t));
    EXPECT_TRUE(thread_is_running(t));
    int calls = 0;
    uint64_t start = timer_now();
    EXPECT_TRUE(thread_wait(t, count_calls, &calls, 8000, TIMER_Milliseconds));
    EXPECT_LT(timer_now() - start, 5000000u);
    EXPECT_GT(calls, 0);
    EXPECT_FALSE(thread_is_running(t));
    EXPECT_FALSE(log.Contains("Forcing"));
    thread_release(t);
}

TEST(Thread, BoundedWaitForcesTermination) {
    test_support::LogCapture log;
    thread_t t;
    thread_initialise(t);
    thread_set(t, sleep_forever, nullptr, string_make("stuck"));
    ASSERT_TRUE(thread_run(t));
    // The thread sleeps (a cancellation point), so it is seen to end: nothing abandoned.
    EXPECT_TRUE(thread_wait(t, nullptr, nullptr, 200, TIMER_Milliseconds));
    EXPECT_TRUE(log.Contains("  ERROR] Forcing thread termination: stuck\n"));
    EXPECT_FALSE(thread_is_running(t));
    EXPECT_FALSE(thread_is_abandoned(t));
    thread_release(t);
}

TEST(Thread, ClassRunsAndWaits) {
    Thread thread;
    uint64_t ms = 20;
    thread.SetFunction(sleep_ms, &ms);
    thread.SetName(string_make("class"));
    EXPECT_EQ(thread.Run(), 0);
    EXPECT_TRUE(thread.Wait(nullptr, nullptr, 8000.0f));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_STREQ(thread.GetName().text, "class");
    EXPECT_GE(thread_num_cpu(), 1);
}

TEST(Timer, UnitsConvert) {
    struct Case {
        const char* name;
        timer_unit_t unit;
        uint64_t to_us;
        uint64_t from_1500000us;
    } cases[] = {
        {"ticks", TIMER_Ticks, 3, 1500000},
        {"seconds", TIMER_Seconds, 3000000, 1},
        {"milliseconds", TIMER_Milliseconds, 3000, 1500},
        {"microseconds", TIMER_Microseconds, 3, 1500000},
        {"unknown", timer_unit_t(7), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(timer_to_microseconds(3, c.unit), c.to_us);
        EXPECT_EQ(timer_from_microseconds(1500000, c.unit), c.from_1500000us);
    }
    uint64_t start = timer_now();
    thread_sleep(1000000, timer_unit_t(9)); // an unknown unit sleeps 0
    EXPECT_LT(timer_now() - start, 500000u);
}

TEST(Timer, TimerAndCountdown) {
    velk::timer_t timer;
    timer_clear(timer);
    EXPECT_FALSE(timer_is_running(timer));
    timer_start(timer);
    EXPECT_TRUE(timer_is_running(timer));
    thread_sleep(5, TIMER_Milliseconds);
    timer_stop(timer);
    uint64_t elapsed = timer_elapsed(timer, TIMER_Microseconds);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_EQ(timer_elapsed(timer, TIMER_Microseconds), elapsed); // stopped: frozen

    countdown_t countdown;
    countdown_clear(countdown);
    EXPECT_TRUE(countdown_expired(countdown)); // not running counts as expired
    countdown_start(countdown, 60, TIMER_Seconds);
    EXPECT_FALSE(countdown_expired(countdown));
    countdown_start(countdown, 1, TIMER_Milliseconds);
    thread_sleep(3, TIMER_Milliseconds);
    EXPECT_TRUE(countdown_expired(countdown));
}

TEST(Timer, SampleRingWrapsAndConverts) {
    timerlog_t log;
    ASSERT_TRUE(timerlog_initialise(log, 3, TIMER_Milliseconds));
    for (int i = 0; i < 4; ++i) {
        timerlog_mark(log);
        thread_sleep(2, TIMER_Milliseconds);
        timerlog_sample(log);
    }
    EXPECT_EQ(log.index, 1u); // 1, 2, 0, 1
    EXPECT_GE(timerlog_latest(log), 2.0f);
    EXPECT_LT(timerlog_latest(log), 1000.0f); // milliseconds, not microseconds
    timerlog_release(log);
    timerlog_release(log);
    EXPECT_FALSE(timerlog_initialise(log, 0, TIMER_Seconds));
}

TEST(DateTime, CalendarFieldsAndDifferences) {
    const char* old_tz = getenv("TZ");
    std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    datetime_t a;
    datetime_clear(a);
    // 2024-02-29 12:34:56.789012 UTC
    datetime_set(a, 1709210096789012ull, TIMER_Microseconds);
    EXPECT_EQ(a.year, 2024);
    EXPECT_EQ(a.month, 2);
    EXPECT_EQ(a.day, 29);
    EXPECT_EQ(a.hour, 12);
    EXPECT_EQ(a.minute, 34);
    EXPECT_EQ(a.second, 56);
    EXPECT_EQ(a.microsecond, 789012);

    datetime_t b = a;
    datetime_add(b, 1500, TIMER_Milliseconds);
    EXPECT_EQ(datetime_diff(a, b, TIMER_Seconds), 1u);
    EXPECT_EQ(datetime_diff(a, b, TIMER_Milliseconds), 1500u);
    EXPECT_EQ(datetime_diff(a, b, TIMER_Microseconds), 1500000u);
    datetime_add(b, 12 * 3600, TIMER_Seconds); // across midnight into March
    EXPECT_EQ(b.month, 3);
    EXPECT_EQ(b.day, 1);
    EXPECT_EQ(b.hour, 0);
    EXPECT_EQ(b.second, 58);

    datetime_t now;
    datetime_set_now(now);
    EXPECT_GE(now.year, 2024);

    if (old_tz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

namespace {

struct spinner_t {
    std::atomic<bool> release{false};
    std::atomic<bool> exited{false};
};

// Spins without reaching a cancellation point, so cancelling cannot end it.
void spin_until_released(void* argument) {
    spinner_t* spinner = static_cast<spinner_t*>(argument);
    while (!spinner->release.load())
        ;
    spinner->exited = true;
}

} // namespace

TEST(Thread, ThreadThatCannotBeCancelledIsAbandonedAndItsRecordMayGo) {
    test_support::LogCapture log;
    static spinner_t spinner; // what the thread was given must outlive it
    Thread* thread = new Thread();
    thread->SetFunction(spin_until_released, &spinner);
    thread->SetName(string_make("spinner"));
    ASSERT_EQ(thread->Run(), 0);
    // The owner learns that the thread may still use what it was given.
    EXPECT_FALSE(thread->Wait(nullptr, nullptr, 50.0f));
    EXPECT_TRUE(thread->IsAbandoned());
    EXPECT_FALSE(thread->IsRunning());
    EXPECT_TRUE(log.Contains("Forcing thread termination: spinner"));
    // The record itself may go: the thread never touches it again.
    delete thread;
    spinner.release = true;
    while (!spinner.exited.load())
        thread_yield();
    thread_sleep(20, TIMER_Milliseconds); // let it finish its exit under the sanitizers
}

namespace {

struct blocking_handler_t {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
};

// A log handler that blocks, as a write to a full pipe or a hung file system would.
void block_in_handler(const char* text, void* user_data) {
    blocking_handler_t* handler = static_cast<blocking_handler_t*>(user_data);
    if (strstr(text, "blocked entry") == nullptr)
        return;
    handler->entered = true;
    while (!handler->release.load())
        thread_sleep(1, TIMER_Milliseconds); // a cancellation point, yet not cancelled
}

void log_blocked_entry(void*) { log_writef(LEVEL_Info, LOG_General, "blocked entry"); }

} // namespace

TEST(Thread, BoundedWaitEndsEvenWhenTheThreadHoldsTheLogLock) {
    log_open();
    static blocking_handler_t handler;
    log_set_handler(block_in_handler, &handler);
    static thread_t t;
    thread_initialise(t);
    thread_set(t, log_blocked_entry, nullptr, string_make("logger"));
    ASSERT_TRUE(thread_run(t));
    while (!handler.entered.load())
        thread_yield();
    uint64_t start = timer_now();
    // The thread is never cancelled inside an entry, so the lock is not left held: it
    // is abandoned instead, and the wait does not block on the log lock it holds.
    EXPECT_FALSE(thread_wait(t, nullptr, nullptr, 100, TIMER_Milliseconds));
    EXPECT_LT(timer_now() - start, 10000000u);
    handler.release = true;
    // Once its entry is finished the log is usable again.
    log_set_handler(nullptr, nullptr);
    log_close();
    thread_sleep(20, TIMER_Milliseconds);
}
