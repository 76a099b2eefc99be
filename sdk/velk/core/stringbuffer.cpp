// The owned, growable string.
#include "velk/core/stringbuffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "velk/core/memory.h"

namespace velk {
namespace {

// Formatted output is produced into a block of its own first, so that arguments
// pointing into the destination buffer are read before the buffer is touched. Short
// output uses the caller's stack; longer output a heap block freed by the caller.
struct formatted_t {
    char local[1024];
    char* heap = nullptr;
    const char* text = local;
    ~formatted_t() { free(heap); }
};

// Returns the length of the output, or -1 on an encoding error or when memory runs out.
int format_into(formatted_t& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int result = vsnprintf(out.local, sizeof(out.local), format, copy);
    va_end(copy);
    if (result < 0 || size_t(result) < sizeof(out.local))
        return result;
    out.heap = static_cast<char*>(malloc(size_t(result) + 1));
    if (out.heap == nullptr)
        return -1;
    va_copy(copy, args);
    int again = vsnprintf(out.heap, size_t(result) + 1, format, copy);
    va_end(copy);
    if (again != result)
        return -1;
    out.text = out.heap;
    return result;
}

// Replaces the block by a zero-filled one of `capacity` bytes holding the old bytes.
bool grow(stringbuffer_t& sb, uint32_t capacity) {
    char* block = static_cast<char*>(memory_alloc(capacity, 1, VELK_TAG));
    if (block == nullptr)
        return false;
    memset(block, 0, capacity);
    if (sb.buffer != nullptr) {
        memcpy(block, sb.buffer, sb.capacity < capacity ? sb.capacity : capacity);
        memory_free(sb.buffer, VELK_TAG);
    }
    if (sb.view.text == sb.buffer && sb.buffer != nullptr)
        sb.view.text = block;
    sb.buffer = block;
    sb.capacity = capacity;
    return true;
}

bool points_into(const stringbuffer_t& sb, const char* text) {
    return sb.buffer != nullptr && text >= sb.buffer && text < sb.buffer + sb.capacity;
}

// The capacity formatted output starts from.
constexpr uint32_t FormatMinimum = 1024;

} // namespace

void stringbuffer_initialise(stringbuffer_t& sb) {
    sb.view = string_t{};
    sb.buffer = nullptr;
    sb.capacity = 0;
}

void stringbuffer_release(stringbuffer_t& sb) {
    memory_free(sb.buffer, VELK_TAG);
    stringbuffer_initialise(sb);
}

void stringbuffer_clear(stringbuffer_t& sb) { sb.view = string_t{}; }

bool stringbuffer_set(stringbuffer_t& sb, string_t text) {
    if (text.length == 0) {
        stringbuffer_release(sb);
        return true;
    }
    if (sb.capacity <= text.length) {
        // Copy straight into the new block: the source may live in the old one.
        uint32_t capacity = text.length + 1;
        char* block = static_cast<char*>(memory_alloc(capacity, 1, VELK_TAG));
        if (block == nullptr)
            return false;
        memset(block, 0, capacity);
        memcpy(block, text.text, text.length);
        memory_free(sb.buffer, VELK_TAG);
        sb.buffer = block;
        sb.capacity = capacity;
    } else {
        memmove(sb.buffer, text.text, text.length);
    }
    sb.buffer[text.length] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = text.length;
    return true;
}

bool stringbuffer_set(stringbuffer_t& sb, char c) {
    if (sb.capacity < 2 && !grow(sb, 2))
        return false;
    sb.buffer[0] = c;
    sb.buffer[1] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = 1;
    return true;
}

bool stringbuffer_append(stringbuffer_t& sb, char c) {
    uint32_t length = sb.view.length;
    if (sb.capacity <= length + 1 && !grow(sb, length + 2))
        return false;
    sb.buffer[length] = c;
    sb.buffer[length + 1] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = length + 1;
    return true;
}

bool stringbuffer_append(stringbuffer_t& sb, string_t text) {
    if (text.length == 0)
        return true;
    uint32_t length = sb.view.length;
    if (uint64_t(length) + text.length + 1 > 0xffffffffu)
        return false;
    uint32_t needed = length + text.length;
    if (sb.capacity <= needed) {
        // Appending the buffer (or part of it) to itself: find the source again after
        // the block moves.
        bool aliased = points_into(sb, text.text);
        size_t offset = aliased ? size_t(text.text - sb.buffer) : 0;
        if (!grow(sb, needed + 1))
            return false;
        if (aliased)
            text.text = sb.buffer + offset;
    }
    memmove(sb.buffer + length, text.text, text.length);
    sb.buffer[needed] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = needed;
    return true;
}

bool stringbuffer_formatv(stringbuffer_t& sb, const char* format, va_list args) {
    formatted_t formatted;
    int result = format_into(formatted, format, args);
    if (sb.capacity < FormatMinimum + 1 && !grow(sb, FormatMinimum + 1))
        return false;
    if (result < 1) {
        sb.buffer[0] = 0;
        sb.view.text = sb.buffer;
        sb.view.length = 0;
        return result == 0;
    }
    if (uint32_t(result) >= sb.capacity - 1) {
        if (uint64_t(result) * 2 + 3 > 0xffffffffu)
            return false;
        sb.buffer[0] = 0;
        sb.view.length = 0;
        if (!grow(sb, uint32_t(result) * 2 + 3))
            return false;
    }
    memcpy(sb.buffer, formatted.text, size_t(result));
    sb.buffer[result] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = uint32_t(result);
    return true;
}

bool stringbuffer_format(stringbuffer_t& sb, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = stringbuffer_formatv(sb, format, args);
    va_end(args);
    return ok;
}

bool stringbuffer_appendfv(stringbuffer_t& sb, const char* format, va_list args) {
    formatted_t formatted;
    int result = format_into(formatted, format, args);
    if (sb.capacity < FormatMinimum + 1 && !grow(sb, FormatMinimum + 1))
        return false;
    uint32_t length = sb.view.length;
    if (result < 1) {
        sb.buffer[length] = 0;
        return result == 0;
    }
    uint64_t needed = uint64_t(length) + uint32_t(result);
    if (needed >= sb.capacity - 1) {
        if (needed * 2 + 3 > 0xffffffffu)
            return false;
        if (!grow(sb, uint32_t(needed * 2 + 3)))
            return false;
    }
    memcpy(sb.buffer + length, formatted.text, size_t(result));
    sb.buffer[needed] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = uint32_t(needed);
    return true;
}

bool stringbuffer_appendf(stringbuffer_t& sb, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = stringbuffer_appendfv(sb, format, args);
    va_end(args);
    return ok;
}

void stringbuffer_trimleft(stringbuffer_t& sb, bool (*predicate)(int)) {
    uint32_t length = sb.view.length;
    if (length == 0)
        return;
    uint32_t skip = 0;
    while (skip < length && predicate(static_cast<signed char>(sb.buffer[skip])))
        ++skip;
    if (skip == 0)
        return;
    memmove(sb.buffer, sb.buffer + skip, length - skip);
    sb.view.length = length - skip;
    sb.buffer[sb.view.length] = 0;
}

void stringbuffer_trimright(stringbuffer_t& sb, bool (*predicate)(int)) {
    uint32_t length = sb.view.length;
    if (length == 0)
        return;
    while (length > 0 && predicate(static_cast<signed char>(sb.buffer[length - 1])))
        --length;
    sb.view.length = length;
    sb.buffer[length] = 0;
}

void stringbuffer_trim(stringbuffer_t& sb, bool (*predicate)(int)) {
    stringbuffer_trimright(sb, predicate);
    stringbuffer_trimleft(sb, predicate);
}

void stringbuffer_remove(stringbuffer_t& sb, bool (*predicate)(int)) {
    uint32_t length = sb.view.length;
    if (length == 0)
        return;
    uint32_t w = 0;
    for (uint32_t r = 0; r < length; ++r)
        if (!predicate(static_cast<signed char>(sb.buffer[r])))
            sb.buffer[w++] = sb.buffer[r];
    sb.view.length = w;
    sb.buffer[w] = 0;
}

bool stringbuffer_lock(stringbuffer_t& sb, uint32_t size, char*& out) {
    out = nullptr;
    if (size == 0xffffffffu)
        return false;
    if (sb.capacity <= size && !grow(sb, size + 1))
        return false;
    sb.view.text = sb.buffer;
    out = sb.buffer;
    return true;
}

void stringbuffer_unlock(stringbuffer_t& sb, uint32_t length) {
    if (sb.buffer == nullptr) {
        sb.view = string_t{};
        return;
    }
    if (length >= sb.capacity)
        length = sb.capacity - 1;
    sb.buffer[length] = 0;
    sb.view.text = sb.buffer;
    sb.view.length = length;
}

void stringbuffer_unlock(stringbuffer_t& sb) {
    if (sb.buffer == nullptr) {
        sb.view = string_t{};
        return;
    }
    stringbuffer_unlock(sb, uint32_t(strnlen(sb.buffer, sb.capacity - 1)));
}

void stringbuffer_compute_length(stringbuffer_t& sb) {
    if (sb.buffer == nullptr) {
        sb.view = string_t{};
        return;
    }
    sb.view.text = sb.buffer;
    sb.view.length = uint32_t(strnlen(sb.buffer, sb.capacity - 1));
}

} // namespace velk
