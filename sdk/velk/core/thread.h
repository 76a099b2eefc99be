// Threads: a record with an entry function, a bounded wait that ends in forced
// termination as a last resort, sleeping and yielding.
#pragma once

#include <cstdint>
#include <pthread.h>

#include "velk/core/string.h"
#include "velk/core/timer.h"

namespace velk {

// What a running thread shares with its record. The thread touches only this block,
// never the record, and the last of the two to let go frees it: so a record may be
// released or reused even while an abandoned thread still runs.
struct thread_shared_t;

struct thread_t {
    void (*function)(void*) = nullptr;
    void* argument = nullptr;
    string_t name;                     // not copied
    thread_shared_t* shared = nullptr; // while a thread exists
    pthread_t handle{};
    bool has_handle = false;
    // The thread had to be cancelled and was not seen to end: it may still be using what
    // its argument points to, so its owner must not free that.
    bool abandoned = false;
};

// Keeps the calling thread from being cancelled while it holds a lock that other
// threads need (the log, the string dictionary, the bus tables); restores the previous
// state when it goes out of scope.
class CancelGuard {
  public:
    CancelGuard();
    ~CancelGuard();
    CancelGuard(const CancelGuard&) = delete;
    CancelGuard& operator=(const CancelGuard&) = delete;

  private:
    int m_previous;
};

// No function, no handle, not running, empty name.
void thread_initialise(thread_t& t);
// As thread_terminate.
void thread_release(thread_t& t);
// Stores the entry function, its argument and the name (text not copied).
void thread_set(thread_t& t, void (*function)(void*), void* argument, string_t name);
// Starts the thread; false (not running) when it cannot be created.
bool thread_run(thread_t& t);
int thread_run_error(thread_t& t); // as thread_run, returning the error number (0 = ok)
// Waits until the thread ends: with a function, calls it with the argument and yields
// in a loop; without one, joins.
void thread_wait(thread_t& t, void (*function)(void*), void* argument);
// Waits at most the duration, calling `function` (when given) while waiting. If the
// thread does not end by then, logs "Forcing thread termination: <name>" and cancels
// it. True when the thread is known to have ended; false when it had to be abandoned
// still running (see thread_t::abandoned).
bool thread_wait(thread_t& t, void (*function)(void*), void* argument, uint64_t duration,
                 timer_unit_t unit);
// Cancels a running thread and waits briefly for it to end; a thread that does not end
// is detached and marked abandoned.
void thread_terminate(thread_t& t);
bool thread_is_running(const thread_t& t);
bool thread_is_abandoned(const thread_t& t);

// Sleeps for the duration (a unit outside 0 to 3 sleeps 0).
void thread_sleep(uint64_t duration, timer_unit_t unit);
void thread_yield();
int thread_num_cpu();

// The same as a class; the destructor terminates a still-running thread.
class Thread {
  public:
    Thread();
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void SetFunction(void (*function)(void*), void* argument);
    void SetName(string_t name);
    // 0 on success, else the operating system's error number.
    int Run();
    // Waits at most `milliseconds` (fraction dropped); see thread_wait.
    bool Wait(void (*function)(void*), void* argument, float milliseconds);
    void Stop();
    bool IsRunning() const;
    bool IsAbandoned() const;
    string_t GetName() const;

  private:
    thread_t m_thread;
};

} // namespace velk
