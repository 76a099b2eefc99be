// The owned, growable string. Bytes past the text are always zero, the text is
// always NUL-terminated, and the view never holds a null pointer.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "velk/core/string.h"

namespace velk {

struct stringbuffer_t {
    string_t view;          // the current text: empty_cstr or the buffer
    char* buffer = nullptr; // owned block, null until first needed
    uint32_t capacity = 0;  // bytes in the block, NUL included
};

// Makes the buffer empty with no block. Never fails.
void stringbuffer_initialise(stringbuffer_t& sb);
// Frees the block and returns to the initialised state; safe to call twice.
void stringbuffer_release(stringbuffer_t& sb);
// Empties the text but keeps the block for reuse.
void stringbuffer_clear(stringbuffer_t& sb);

// Replaces the text. An empty source releases the block. The source may point into
// the buffer itself. False (buffer unchanged) when memory runs out.
bool stringbuffer_set(stringbuffer_t& sb, string_t text);
bool stringbuffer_set(stringbuffer_t& sb, char c);

// Appends; the source may point into the buffer itself. An empty source changes
// nothing. False (buffer unchanged) when memory runs out.
bool stringbuffer_append(stringbuffer_t& sb, char c);
bool stringbuffer_append(stringbuffer_t& sb, string_t text);

// Replaces the text with formatted output. Arguments may point into the buffer.
// Formatted output starts with room for 1024 characters and doubles past the size
// needed. False when memory runs out (the buffer keeps what it held).
bool stringbuffer_format(stringbuffer_t& sb, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
bool stringbuffer_formatv(stringbuffer_t& sb, const char* format, va_list args);

// Appends formatted output; as stringbuffer_format otherwise.
bool stringbuffer_appendf(stringbuffer_t& sb, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
bool stringbuffer_appendfv(stringbuffer_t& sb, const char* format, va_list args);

// Remove leading / trailing characters for which the predicate is true. The predicate
// gets each character as a signed char widened to int. trim runs right, then left.
void stringbuffer_trimleft(stringbuffer_t& sb, bool (*predicate)(int));
void stringbuffer_trimright(stringbuffer_t& sb, bool (*predicate)(int));
void stringbuffer_trim(stringbuffer_t& sb, bool (*predicate)(int));
// Removes every character for which the predicate is true, keeping the order.
void stringbuffer_remove(stringbuffer_t& sb, bool (*predicate)(int));

// Makes room for `size` characters and a NUL and hands the block out for direct
// writing; the current text is kept. False and a null `out` when memory runs out.
bool stringbuffer_lock(stringbuffer_t& sb, uint32_t size, char*& out);
// Ends direct writing: sets the length (clamped to the block) and writes the NUL.
void stringbuffer_unlock(stringbuffer_t& sb, uint32_t length);
// As above with the length taken from the NUL the caller wrote.
void stringbuffer_unlock(stringbuffer_t& sb);
// Sets the length from the first NUL in the block (writes none).
void stringbuffer_compute_length(stringbuffer_t& sb);

} // namespace velk
