// Locks that remember whether they are held: mutex_t and Mutex for locks made at run
// time, global_mutex_t for locks in static storage.
#pragma once

#include <pthread.h>

namespace velk {

// A lock created and destroyed at run time. `held` is only meaningful to the holder.
struct mutex_t {
    bool held = false;
    pthread_mutex_t mutex;
};

// A lock for static storage: ready from construction, destroyed (unlocked first if
// held) at exit.
class global_mutex_t {
  public:
    global_mutex_t();
    ~global_mutex_t();
    global_mutex_t(const global_mutex_t&) = delete;
    global_mutex_t& operator=(const global_mutex_t&) = delete;

    bool held;
    pthread_mutex_t mutex;
};

// Clears held and creates the lock; false when it cannot be created.
bool mutex_initialise(mutex_t& m);
// Unlocks if held and destroys the lock.
void mutex_release(mutex_t& m);
// Locks; held = success; returns success.
bool mutex_lock(mutex_t& m);
// Clears held and unlocks.
void mutex_unlock(mutex_t& m);
bool mutex_is_locked(const mutex_t& m);

bool mutex_lock(global_mutex_t& m);
void mutex_unlock(global_mutex_t& m);

// The same lock as a class: the constructor creates it, the destructor unlocks it if
// held and destroys it.
class Mutex {
  public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    bool Acquire();
    void Release();
    bool IsAcquired() const;

  private:
    mutex_t m_mutex;
};

} // namespace velk
