// Threads with a bounded wait that ends in forced termination as a last resort.
#include "velk/core/thread.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sched.h>
#include <unistd.h>

#include "velk/core/log.h"

namespace velk {
namespace {

// How long a cancelled thread gets to reach a cancellation point and end.
constexpr uint64_t CancelGraceMicroseconds = 2000000;

void* trampoline(void* argument) {
    thread_t* t = static_cast<thread_t*>(argument);
    if (t->name.length > 0) {
        char name[16];
        strncpy(name, t->name.text, sizeof(name) - 1);
        name[sizeof(name) - 1] = 0;
        pthread_setname_np(pthread_self(), name);
    }
    t->function(t->argument);
    // Last touch of the record: once this is seen the owner may free it.
    t->running.store(false, std::memory_order_release);
    return nullptr;
}

void join(thread_t& t) {
    if (t.has_handle) {
        pthread_join(t.handle, nullptr);
        t.has_handle = false;
    }
}

// Cancels the thread and gives it a grace period to end. A thread that does not end is
// detached and marked abandoned.
void cancel(thread_t& t) {
    if (!t.has_handle) {
        t.running.store(false);
        return;
    }
    pthread_cancel(t.handle);
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += time_t(CancelGraceMicroseconds / 1000000u);
    if (pthread_timedjoin_np(t.handle, nullptr, &deadline) != 0) {
        pthread_detach(t.handle);
        t.abandoned = true;
    }
    t.has_handle = false;
    t.running.store(false);
}

} // namespace

void thread_initialise(thread_t& t) {
    t.function = nullptr;
    t.argument = nullptr;
    t.running.store(false);
    t.name = string_t{};
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
    if (t.running.load())
        return EBUSY;
    join(t); // an earlier run that ended by itself
    t.abandoned = false;
    t.running.store(true);
    int error = pthread_create(&t.handle, nullptr, trampoline, &t);
    if (error != 0) {
        t.running.store(false);
        t.has_handle = false;
        return error;
    }
    t.has_handle = true;
    return 0;
}

bool thread_run(thread_t& t) { return thread_run_error(t) == 0; }

void thread_wait(thread_t& t, void (*function)(void*), void* argument) {
    if (!t.running.load()) {
        join(t);
        return;
    }
    if (function != nullptr) {
        while (t.running.load(std::memory_order_acquire)) {
            function(argument);
            thread_yield();
        }
    }
    join(t);
}

bool thread_wait(thread_t& t, void (*function)(void*), void* argument, uint64_t duration,
                 timer_unit_t unit) {
    if (!t.running.load()) {
        join(t);
        return true;
    }
    uint64_t start = timer_now();
    uint64_t limit = timer_to_microseconds(duration, unit);
    while (t.running.load(std::memory_order_acquire) && timer_now() - start <= limit) {
        if (function != nullptr)
            function(argument);
        thread_yield();
    }
    if (!t.running.load(std::memory_order_acquire)) {
        join(t);
        return true;
    }
    log_writef(LEVEL_Error, LOG_General, "Forcing thread termination: %s", t.name.text);
    cancel(t);
    return !t.abandoned;
}

void thread_terminate(thread_t& t) {
    if (t.running.load())
        cancel(t);
    else
        join(t);
}

bool thread_is_running(const thread_t& t) { return t.running.load(); }

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
