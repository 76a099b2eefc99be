// Threads with a bounded wait that ends in forced termination as a last resort.
#include "velk/core/thread.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <sched.h>
#include <unistd.h>

#include "velk/core/log.h"

namespace velk {

struct thread_shared_t {
    std::atomic<bool> running{true};
    std::atomic<int> references{2}; // the record and the thread
    void (*function)(void*) = nullptr;
    void* argument = nullptr;
    char name[16] = {};
};

namespace {

// How long a cancelled thread gets to reach a cancellation point and end.
constexpr uint64_t CancelGraceMicroseconds = 2000000;
// How long the forced-termination entry may wait for the log lock: the thread being
// terminated may be the one holding it.
constexpr uint64_t LogWaitMicroseconds = 500000;

void drop(thread_shared_t* shared) {
    if (shared->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete shared;
}

void* trampoline(void* argument) {
    thread_shared_t* shared = static_cast<thread_shared_t*>(argument);
    if (shared->name[0] != 0)
        pthread_setname_np(pthread_self(), shared->name);
    shared->function(shared->argument);
    shared->running.store(false, std::memory_order_release);
    drop(shared);
    return nullptr;
}

// After a join: a thread that was cancelled never reached its own drop.
void joined(thread_t& t, void* result) {
    if (result == PTHREAD_CANCELED && t.shared != nullptr)
        drop(t.shared);
}

void let_go(thread_t& t) {
    if (t.shared != nullptr) {
        drop(t.shared);
        t.shared = nullptr;
    }
}

void join(thread_t& t) {
    if (t.has_handle) {
        void* result = nullptr;
        pthread_join(t.handle, &result);
        joined(t, result);
        t.has_handle = false;
    }
    let_go(t);
}

bool running(const thread_t& t) {
    return t.shared != nullptr && t.shared->running.load(std::memory_order_acquire);
}

// Cancels the thread and gives it a grace period to end. A thread that does not end is
// detached and marked abandoned.
void cancel(thread_t& t) {
    if (t.has_handle) {
        pthread_cancel(t.handle);
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += time_t(CancelGraceMicroseconds / 1000000u);
        void* result = nullptr;
        if (pthread_timedjoin_np(t.handle, &result, &deadline) == 0) {
            joined(t, result);
        } else {
            // Still running: it lets go of the shared block itself if it ever returns.
            pthread_detach(t.handle);
            t.abandoned = true;
        }
        t.has_handle = false;
    }
    let_go(t);
}

} // namespace

CancelGuard::CancelGuard() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_previous); }

CancelGuard::~CancelGuard() {
    int ignored;
    pthread_setcancelstate(m_previous, &ignored);
}

void thread_initialise(thread_t& t) {
    t.function = nullptr;
    t.argument = nullptr;
    t.name = string_t{};
    t.shared = nullptr;
    t.has_handle = false;
    t.abandoned = false;
}

void thread_release(thread_t& t) { thread_terminate(t); }

void thread_set(thread_t& t, void (*function)(void*), void* argument, string_t name) {
    t.function = function;
    t.argument = argument;
    t.name = name;
}

int thread_run_error(thread_t& t) {
    if (t.function == nullptr)
        return EINVAL;
    if (running(t))
        return EBUSY;
    join(t); // an earlier run that ended by itself
    thread_shared_t* shared = new (std::nothrow) thread_shared_t();
    if (shared == nullptr)
        return ENOMEM;
    shared->function = t.function;
    shared->argument = t.argument;
    if (t.name.length > 0)
        strncpy(shared->name, t.name.text, sizeof(shared->name) - 1);
    t.abandoned = false;
    t.shared = shared;
    int error = pthread_create(&t.handle, nullptr, trampoline, shared);
    if (error != 0) {
        delete shared;
        t.shared = nullptr;
        t.has_handle = false;
        return error;
    }
    t.has_handle = true;
    return 0;
}

bool thread_run(thread_t& t) { return thread_run_error(t) == 0; }

void thread_wait(thread_t& t, void (*function)(void*), void* argument) {
    if (function != nullptr) {
        while (running(t)) {
            function(argument);
            thread_yield();
        }
    }
    join(t);
}

bool thread_wait(thread_t& t, void (*function)(void*), void* argument, uint64_t duration,
                 timer_unit_t unit) {
    if (!running(t)) {
        join(t);
        return true;
    }
    uint64_t start = timer_now();
    uint64_t limit = timer_to_microseconds(duration, unit);
    while (running(t) && timer_now() - start <= limit) {
        if (function != nullptr)
            function(argument);
        thread_yield();
    }
    if (!running(t)) {
        join(t);
        return true;
    }
    if (!log_writef_bounded(LogWaitMicroseconds, LEVEL_Error, LOG_General,
                            "Forcing thread termination: %s", t.name.text)) {
        fprintf(stderr, "Forcing thread termination: %s\n", t.name.text);
    }
    cancel(t);
    return !t.abandoned;
}

void thread_terminate(thread_t& t) {
    if (running(t))
        cancel(t);
    else
        join(t);
}

bool thread_is_running(const thread_t& t) { return running(t); }

bool thread_is_abandoned(const thread_t& t) { return t.abandoned; }

void thread_sleep(uint64_t duration, timer_unit_t unit) {
    uint64_t microseconds = timer_to_microseconds(duration, unit);
    if (microseconds == 0)
        return;
    struct timespec request;
    request.tv_sec = time_t(microseconds / 1000000u);
    request.tv_nsec = long(microseconds % 1000000u) * 1000;
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

void thread_yield() { sched_yield(); }

int thread_num_cpu() {
    long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? int(count) : 1;
}

Thread::Thread() { thread_initialise(m_thread); }

Thread::~Thread() { thread_terminate(m_thread); }

void Thread::SetFunction(void (*function)(void*), void* argument) {
    m_thread.function = function;
    m_thread.argument = argument;
}

void Thread::SetName(string_t name) { m_thread.name = name; }

int Thread::Run() { return thread_run_error(m_thread); }

bool Thread::Wait(void (*function)(void*), void* argument, float milliseconds) {
    uint64_t duration = milliseconds > 0 ? uint64_t(milliseconds) : 0;
    return thread_wait(m_thread, function, argument, duration, TIMER_Milliseconds);
}

void Thread::Stop() { thread_terminate(m_thread); }

bool Thread::IsRunning() const { return thread_is_running(m_thread); }

bool Thread::IsAbandoned() const { return thread_is_abandoned(m_thread); }

string_t Thread::GetName() const { return m_thread.name; }

} // namespace velk
