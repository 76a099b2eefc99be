// Locks that remember whether they are held.
#include "velk/core/mutex.h"

namespace velk {

global_mutex_t::global_mutex_t() : held(false) { pthread_mutex_init(&mutex, nullptr); }

global_mutex_t::~global_mutex_t() {
    if (held)
        pthread_mutex_unlock(&mutex);
    pthread_mutex_destroy(&mutex);
}

bool mutex_initialise(mutex_t& m) {
    m.held = false;
    return pthread_mutex_init(&m.mutex, nullptr) == 0;
}

void mutex_release(mutex_t& m) {
    if (m.held) {
        m.held = false;
        pthread_mutex_unlock(&m.mutex);
    }
    pthread_mutex_destroy(&m.mutex);
}

bool mutex_lock(mutex_t& m) {
    bool locked = pthread_mutex_lock(&m.mutex) == 0;
    m.held = locked;
    return locked;
}

void mutex_unlock(mutex_t& m) {
    m.held = false;
    pthread_mutex_unlock(&m.mutex);
}

bool mutex_is_locked(const mutex_t& m) { return m.held; }

bool mutex_lock(global_mutex_t& m) {
    bool locked = pthread_mutex_lock(&m.mutex) == 0;
    m.held = locked;
    return locked;
}

void mutex_unlock(global_mutex_t& m) {
    m.held = false;
    pthread_mutex_unlock(&m.mutex);
}

Mutex::Mutex() { mutex_initialise(m_mutex); }

Mutex::~Mutex() { mutex_release(m_mutex); }

bool Mutex::Acquire() { return mutex_lock(m_mutex); }

void Mutex::Release() { mutex_unlock(m_mutex); }

bool Mutex::IsAcquired() const { return mutex_is_locked(m_mutex); }

} // namespace velk
