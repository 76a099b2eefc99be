// Allocation, formatting wrappers and atomic counters.
#include "velk/core/memory.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace velk {

void* memory_alloc(size_t size, size_t alignment, const char* tag) {
    (void)alignment;
    (void)tag;
    return malloc(size == 0 ? 1 : size);
}

void memory_free(void* pointer, const char* tag) {
    (void)tag;
    free(pointer);
}

bool memory_check() { return true; }

size_t memory_usage() { return 0; }

int snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsnprintf(buffer, size, format, args);
    va_end(args);
    return result;
}

int printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vprintf(format, args);
    va_end(args);
    return result;
}

int atomic_increment(int* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }

int atomic_decrement(int* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

} // namespace velk
