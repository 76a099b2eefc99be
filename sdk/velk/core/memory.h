// Allocation, formatting wrappers and 32-bit atomic counters that the rest of
// the foundation library rests on.
#pragma once

#include <cstddef>

#define VELK_STRINGIFY_(x) #x
#define VELK_STRINGIFY(x) VELK_STRINGIFY_(x)
// Allocation tag naming the calling source file and line.
#define VELK_TAG __FILE__ ":" VELK_STRINGIFY(__LINE__)

namespace velk {

// Returns a heap block of `size` bytes, or null when memory runs out. The alignment
// and tag are kept for tracking; blocks are always aligned for any fundamental type.
void* memory_alloc(size_t size, size_t alignment, const char* tag);

// Frees a block from memory_alloc; a null pointer is ignored.
void memory_free(void* pointer, const char* tag);

// Shut-down checks; no leak tracking is active, so they report a clean state.
bool memory_check();
size_t memory_usage();

// Thin wrappers over vsnprintf and vprintf (standard output).
int snprintf(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Atomic add of +1 / -1; returns the new value. Safe from any thread.
int atomic_increment(int* value);
int atomic_decrement(int* value);

} // namespace velk
