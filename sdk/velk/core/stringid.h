// Interned string identifiers: one reference-counted copy per distinct text, shared
// process-wide, so identifiers compare, order and hash by pointer.
#pragma once

#include <cstdint>

#include "velk/core/string.h"

namespace velk {

// The interned text is preceded by a signed 32-bit reference count. The empty
// identifier is (empty_cstr, 0) and has no count.
struct stringid_t {
    const char* text = empty_cstr;
    uint32_t length = 0;
};

inline bool operator==(const stringid_t& a, const stringid_t& b) { return a.text == b.text; }
inline bool operator!=(const stringid_t& a, const stringid_t& b) { return a.text != b.text; }
inline bool operator<(const stringid_t& a, const stringid_t& b) { return a.text < b.text; }
inline string_t stringid_string(const stringid_t& id) { return string_t{id.text, id.length}; }

// Character comparison used to order the dictionary.
struct stringid_compare_t {
    bool operator()(const char* a, const char* b) const { return strcmp(a, b) < 0; }
};

// Makes `id` refer to the interned copy of `text`, dropping the reference `id` held.
// An empty text gives the empty identifier; so does a failure (logged). Any thread.
void stringid_resolve(stringid_t& id, const string_t& text);

// Adds / removes one reference (nothing for the empty identifier). Lock-free, any
// thread. Reaching zero logs "string id released too many times: <text>".
void stringid_add_reference(const stringid_t& id);
void stringid_remove_reference(const stringid_t& id);

// The current reference count (0 for the empty identifier); for diagnostics.
int stringid_reference_count(const stringid_t& id);

// Shut-down report of the dictionary's entries as a warning in the General module.
void stringid_check();

// Hash-table callbacks for tables keyed by a stringid_t.
int32_t stringid_hash(const void* key);
bool stringid_compare_key(const void* a, const void* b);

} // namespace velk
