// The string view: a pointer to NUL-terminated text and its length.
#pragma once

#include <cstdint>
#include <cstring>

namespace velk {

// One process-wide empty text. Every empty view, buffer and identifier points here,
// so no text pointer is ever null.
extern const char empty_cstr[1];

// Non-owning view of NUL-terminated text; the length does not count the NUL.
struct string_t {
    const char* text = empty_cstr;
    uint32_t length = 0;
};

// A view of a C string; null gives the empty view.
inline string_t string_make(const char* text) {
    if (text == nullptr || text[0] == 0)
        return string_t{};
    return string_t{text, static_cast<uint32_t>(strlen(text))};
}

// A view of `length` characters at `text`, which must be followed by a NUL.
inline string_t string_make(const char* text, uint32_t length) {
    if (text == nullptr || length == 0)
        return string_t{};
    return string_t{text, length};
}

// True when both views hold the same characters.
inline bool string_equal(string_t a, string_t b) {
    return a.length == b.length && memcmp(a.text, b.text, a.length) == 0;
}

inline bool string_is_empty(string_t s) { return s.length == 0; }

} // namespace velk
