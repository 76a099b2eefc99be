// The process-wide log.
#include "velk/core/log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/time.h>

#include "velk/core/memory.h"
#include "velk/core/mutex.h"
#include "velk/core/thread.h"

namespace velk {

log_module_t LOG_General = {0, "General"};
log_module_t LOG_Message = {0, "Message"};
log_module_t LOG_Graphics = {0, "Graphics"};
log_module_t LOG_Image = {0, "Image"};

namespace {

constexpr unsigned MaxModules = 256;
constexpr uint32_t InitialBufferSize = 2048;

struct log_state_t {
    log_handler_t handler = log_default_handler;
    void* user_data = nullptr;
    unsigned module_count = 0;
    char* buffer = nullptr;
    uint32_t capacity = 0;
    std::atomic<bool> open{false};
    std::atomic<uint8_t> levels[MaxModules];
    const char* names[MaxModules] = {};
};

log_state_t& state() {
    static log_state_t* s = new log_state_t();
    return *s;
}

// The log lock outlives every open and close, so a thread that is about to write while
// the log closes never touches a destroyed lock; it finds the log closed instead.
global_mutex_t& log_lock() {
    static global_mutex_t* m = new global_mutex_t();
    return *m;
}

// Guards the module table against two registrations at once.
global_mutex_t& register_lock() {
    static global_mutex_t* m = new global_mutex_t();
    return *m;
}

const char* level_text(unsigned level) {
    switch (level) {
    case LEVEL_Info: return "   info";
    case LEVEL_Debug: return "  debug";
    case LEVEL_Error: return "  ERROR";
    case LEVEL_Trace: return "  trace";
    case LEVEL_Warning: return "WARNING";
    case LEVEL_Verbose: return "verbose";
    default: return "";
    }
}

void emit(const char* text) {
    log_state_t& s = state();
    s.handler(text, s.user_data);
}

void register_locked(log_module_t& module) {
    log_state_t& s = state();
    for (unsigned i = 0; i < s.module_count; ++i) {
        if (s.names[i] != nullptr && strcmp(s.names[i], module.name) == 0) {
            module.index = uint8_t(i);
            return;
        }
    }
    if (s.module_count >= MaxModules)
        return;
    unsigned index = s.module_count++;
    s.names[index] = module.name;
    s.levels[index].store(LEVEL_Info | LEVEL_Error | LEVEL_Warning, std::memory_order_relaxed);
    module.index = uint8_t(index);
}

} // namespace

const char* log_platform() {
#if defined(__linux__)
#define VELK_OS "linux"
#elif defined(__APPLE__)
#define VELK_OS "mac"
#else
#define VELK_OS "unix"
#endif
#if defined(__x86_64__)
#define VELK_ARCH "x86_64"
#elif defined(__aarch64__)
#define VELK_ARCH "aarch64"
#elif defined(__i386__)
#define VELK_ARCH "x86"
#elif defined(__arm__)
#define VELK_ARCH "arm"
#elif defined(__riscv) && __riscv_xlen == 64
#define VELK_ARCH "riscv64"
#else
#define VELK_ARCH "unknown"
#endif
#if defined(__clang__)
#define VELK_COMPILER "clang"
#elif defined(__GNUC__)
#define VELK_COMPILER "gcc"
#else
#define VELK_COMPILER "cc"
#endif
    return VELK_OS " " VELK_ARCH " " VELK_COMPILER;
}

bool log_open() {
    log_state_t& s = state();
    CancelGuard no_cancel;
    global_mutex_t& lock = log_lock();
    if (!mutex_lock(lock)) {
        fputs("ERROR: Failed to initialise log mutex\n", stdout);
        fflush(stdout);
        return false;
    }
    if (s.open.load()) {
        mutex_unlock(lock);
        return true;
    }
    s.handler = log_default_handler;
    s.user_data = nullptr;
    s.buffer = static_cast<char*>(memory_alloc(InitialBufferSize, 1, VELK_TAG));
    if (s.buffer == nullptr) {
        mutex_unlock(lock);
        fputs("ERROR: Failed to allocate log buffer\n", stdout);
        fflush(stdout);
        return false;
    }
    s.capacity = InitialBufferSize;
    // The module table starts empty once per process. A log opened again keeps it:
    // module objects keep the indices they were given.
    static bool modules_cleared = false;
    mutex_lock(register_lock());
    if (!modules_cleared) {
        modules_cleared = true;
        s.module_count = 0;
        for (unsigned i = 0; i < MaxModules; ++i) {
            s.levels[i].store(0, std::memory_order_relaxed);
            s.names[i] = nullptr;
        }
    }
    register_locked(LOG_General);
    mutex_unlock(register_lock());
    s.open.store(true);
    mutex_unlock(lock);
    log_writef(LEVEL_Info, LOG_General, "Log opened: %s", log_platform());
    return true;
}

void log_close() {
    log_state_t& s = state();
    CancelGuard no_cancel;
    global_mutex_t& lock = log_lock();
    if (!s.open.load() || !mutex_lock(lock))
        return;
    if (s.open.load()) {
        // "Log closed" and the close in one hold of the lock: nothing can come after it.
        if (log_is_enabled(LEVEL_Info, LOG_General)) {
            log_print_header(LEVEL_Info, LOG_General);
            log_print("Log closed\n");
        }
        s.open.store(false);
        memory_free(s.buffer, VELK_TAG);
        s.buffer = nullptr;
        s.capacity = 0;
    }
    mutex_unlock(lock);
}

bool log_is_open() { return state().open.load(); }

void log_register_module(log_module_t& module) {
    CancelGuard no_cancel;
    mutex_lock(register_lock());
    register_locked(module);
    mutex_unlock(register_lock());
}

void log_enable(unsigned level, const log_module_t& module, bool on) {
    std::atomic<uint8_t>& bits = state().levels[module.index];
    if (on)
        bits.fetch_or(uint8_t(level));
    else
        bits.fetch_and(uint8_t(~level));
}

bool log_is_enabled(unsigned level, const log_module_t& module) {
    return (state().levels[module.index].load(std::memory_order_relaxed) & level) != 0;
}

void log_set_handler(log_handler_t handler, void* user_data) {
    log_state_t& s = state();
    CancelGuard no_cancel;
    global_mutex_t& lock = log_lock();
    mutex_lock(lock);
    s.handler = handler != nullptr ? handler : log_default_handler;
    s.user_data = user_data;
    mutex_unlock(lock);
}

void log_default_handler(const char* text, void* user_data) {
    (void)user_data;
    fputs(text, stdout);
    fflush(stdout);
}

namespace {

// The cancellation state log_begin saved, restored by log_end.
thread_local int saved_cancel_state = PTHREAD_CANCEL_ENABLE;

// Takes the log lock for an entry, waiting at most `microseconds` (0: no limit), with
// cancellation held off until log_end. False (nothing held) when the log is closed or
// the lock cannot be had.
bool begin_entry(unsigned level, const log_module_t& module, uint64_t microseconds) {
    log_state_t& s = state();
    if (!log_is_enabled(level, module) || !s.open.load(std::memory_order_acquire))
        return false;
    int previous;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    global_mutex_t& lock = log_lock();
    bool locked;
    if (microseconds == 0) {
        locked = mutex_lock(lock);
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        uint64_t nanoseconds = uint64_t(deadline.tv_nsec) + (microseconds % 1000000u) * 1000u;
        deadline.tv_sec += time_t(microseconds / 1000000u + nanoseconds / 1000000000u);
        deadline.tv_nsec = long(nanoseconds % 1000000000u);
        locked = pthread_mutex_timedlock(&lock.mutex, &deadline) == 0;
        lock.held = locked;
    }
    if (locked && !s.open.load()) {
        mutex_unlock(lock);
        locked = false;
    }
    if (!locked) {
        int ignored;
        pthread_setcancelstate(previous, &ignored);
        return false;
    }
    saved_cancel_state = previous;
    log_print_header(level, module);
    return true;
}

} // namespace

bool log_begin(unsigned level, const log_module_t& module) { return begin_entry(level, module, 0); }

void log_end() {
    log_print("\n");
    int previous = saved_cancel_state;
    mutex_unlock(log_lock());
    int ignored;
    pthread_setcancelstate(previous, &ignored);
}

bool log_writef_bounded(uint64_t microseconds, unsigned level, const log_module_t& module,
                        const char* format, ...) {
    if (!begin_entry(level, module, microseconds == 0 ? 1 : microseconds))
        return !log_is_enabled(level, module) || !log_is_open();
    va_list args;
    va_start(args, format);
    log_printfv(format, args);
    va_end(args);
    log_end();
    return true;
}

void log_writefv(unsigned level, const log_module_t& module, const char* format, va_list args) {
    if (!log_begin(level, module))
        return;
    log_printfv(format, args);
    log_end();
}

void log_writef(unsigned level, const log_module_t& module, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_writefv(level, module, format, args);
    va_end(args);
}

void log_print_header(unsigned level, const log_module_t& module) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    struct tm local;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    if (localtime_r(&seconds, &local) != nullptr) {
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec;
        millisecond = int(now.tv_usec / 1000);
    }
    log_printf("[%02d:%02d:%02d.%03d %8s %s] ", hour, minute, second, millisecond, module.name,
               level_text(level));
}

void log_printfv(const char* format, va_list args) {
    log_state_t& s = state();
    if (s.buffer == nullptr)
        return;
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(s.buffer, s.capacity, format, copy);
    va_end(copy);
    if (n < 1)
        return;
    if (uint32_t(n) >= s.capacity) {
        uint64_t capacity = uint64_t(n) * 2 + 2;
        char* larger = capacity < 0xffffffffu
                           ? static_cast<char*>(memory_alloc(size_t(capacity), 1, VELK_TAG))
                           : nullptr;
        if (larger == nullptr)
            return;
        memory_free(s.buffer, VELK_TAG);
        s.buffer = larger;
        s.capacity = uint32_t(capacity);
        va_copy(copy, args);
        n = vsnprintf(s.buffer, s.capacity, format, copy);
        va_end(copy);
        if (n < 1)
            return;
    }
    emit(s.buffer);
}

void log_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_printfv(format, args);
    va_end(args);
}

void log_print(const char* text) { emit(text); }

void log_print(const unsigned char* bytes, unsigned long count) {
    log_printf("%d bytes\n", int(count));
    char line[96];
    for (unsigned long offset = 0; offset < count; offset += 16) {
        unsigned long run = count - offset < 16 ? count - offset : 16;
        int w = ::snprintf(line, sizeof(line), "%08x ", unsigned(offset));
        for (unsigned long i = 0; i < 16; ++i) {
            if (i == 8)
                line[w++] = ' ';
            if (i < run)
                w += ::snprintf(line + w, sizeof(line) - size_t(w), " %02X", bytes[offset + i]);
            else
                w += ::snprintf(line + w, sizeof(line) - size_t(w), "   ");
        }
        line[w++] = ' ';
        line[w++] = ' ';
        line[w++] = '|';
        for (unsigned long i = 0; i < run; ++i) {
            unsigned char c = bytes[offset + i];
            line[w++] = (c >= 32 && c <= 126) ? char(c) : '.';
        }
        line[w++] = '|';
        line[w++] = '\n';
        line[w] = 0;
        emit(line);
    }
}

} // namespace velk
