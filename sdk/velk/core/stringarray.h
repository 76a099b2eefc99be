// A list of strings kept one after another, each with its NUL, in one character store.
#pragma once

#include <cstdint>

#include "velk/container/vector.h"
#include "velk/core/string.h"

namespace velk {

struct stringarray_t {
    vector_t<string_t> entries;       // views into the store
    char* store = nullptr;            // owned characters, null until the first append
    unsigned long store_capacity = 0; // bytes in the store
    unsigned long store_used = 0;     // bytes used
    vector_t<unsigned long> offsets;  // each entry's first character in the store
};

// Entries and offsets with room for 16, no store. False when memory runs out (safe to
// release).
bool stringarray_initialise(stringarray_t& sa);
// Frees entries, offsets and store; safe to call twice.
void stringarray_release(stringarray_t& sa);
// Forgets every entry; all memory stays allocated.
void stringarray_clear(stringarray_t& sa);
// Copies the string and its NUL into the store and adds an entry. Earlier entries stay
// valid when the store moves. False (nothing added) when memory runs out.
bool stringarray_append(stringarray_t& sa, string_t text);
// Replaces the contents with the tokens of `text`: maximal runs of characters not in
// `delimiters`; no empty tokens. Reentrant. False when memory runs out.
bool stringarray_tokenise(stringarray_t& sa, string_t text, const char* delimiters);

inline uint32_t stringarray_count(const stringarray_t& sa) { return sa.entries.count; }
// The n-th entry, or the empty view past the end.
string_t stringarray_get(const stringarray_t& sa, uint32_t n);

} // namespace velk
