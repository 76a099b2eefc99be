// The owned byte buffer. Its block always has one byte more than its capacity and
// the byte after the data is 0, so a buffer holding text reads as NUL-terminated.
#pragma once

#include <cstdint>

namespace velk {

struct memorybuffer_t {
    unsigned char* data = nullptr; // null when empty
    uint32_t length = 0;
    uint32_t capacity = 0;
};

// Null data, length and capacity 0.
void memorybuffer_initialise(memorybuffer_t& mb);
// Frees the block and returns to the initialised state; safe to call twice.
void memorybuffer_release(memorybuffer_t& mb);
// Replaces the bytes; a null source or zero length releases the buffer. The source may
// point into the buffer. False (buffer unchanged) when memory runs out.
bool memorybuffer_set(memorybuffer_t& mb, const unsigned char* src, uint32_t length);
// Appends the bytes; a null source or zero length changes nothing. The source may
// point into the buffer. False (buffer unchanged) when memory runs out.
bool memorybuffer_append(memorybuffer_t& mb, const unsigned char* src, uint32_t length);
// Makes the capacity at least `size` keeping the bytes, and hands out the block.
// False and a null `out` when memory runs out.
bool memorybuffer_lock(memorybuffer_t& mb, uint32_t size, unsigned char*& out);
// Sets the length (clamped to the capacity) and writes the 0 after it.
void memorybuffer_unlock(memorybuffer_t& mb, uint32_t length);

} // namespace velk
