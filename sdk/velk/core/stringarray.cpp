// Strings kept one after another in one character store.
#include "velk/core/stringarray.h"

#include <cstring>

namespace velk {

bool stringarray_initialise(stringarray_t& sa) {
    sa.store = nullptr;
    sa.store_capacity = 0;
    sa.store_used = 0;
    bool ok = vector_initialise(sa.entries, 16);
    ok = vector_initialise(sa.offsets, 16) && ok;
    return ok;
}

void stringarray_release(stringarray_t& sa) {
    vector_release(sa.entries);
    vector_release(sa.offsets);
    memory_free(sa.store, VELK_TAG);
    sa.store = nullptr;
    sa.store_capacity = 0;
    sa.store_used = 0;
}

void stringarray_clear(stringarray_t& sa) {
    vector_clear(sa.entries);
    vector_clear(sa.offsets);
    sa.store_used = 0;
}

bool stringarray_append(stringarray_t& sa, string_t text) {
    unsigned long needed = sa.store_used + text.length + 1;
    if (needed >= sa.store_capacity) {
        unsigned long capacity = 2 * (sa.store_capacity + text.length + 1);
        char* store = static_cast<char*>(memory_alloc(capacity, 1, VELK_TAG));
        if (store == nullptr)
            return false;
        if (sa.store_used > 0)
            memcpy(store, sa.store, sa.store_used);
        // The text may be one of our own entries: copy it before the old store goes.
        memcpy(store + sa.store_used, text.text, text.length);
        store[sa.store_used + text.length] = 0;
        for (uint32_t i = 0; i < sa.entries.count; ++i)
            sa.entries.items[i].text = store + sa.offsets.items[i];
        memory_free(sa.store, VELK_TAG);
        sa.store = store;
        sa.store_capacity = capacity;
    } else {
        memmove(sa.store + sa.store_used, text.text, text.length);
        sa.store[sa.store_used + text.length] = 0;
    }
    string_t entry{sa.store + sa.store_used, text.length};
    if (text.length == 0)
        entry = string_t{};
    unsigned long offset = sa.store_used;
    if (!vector_append(sa.entries, entry))
        return false;
    if (!vector_append(sa.offsets, offset)) {
        vector_remove(sa.entries, sa.entries.count - 1);
        return false;
    }
    sa.store_used = needed;
    return true;
}

bool stringarray_tokenise(stringarray_t& sa, string_t text, const char* delimiters) {
    stringarray_clear(sa);
    unsigned long needed = text.length + 1;
    if (sa.store_capacity < needed) {
        char* store = static_cast<char*>(memory_alloc(needed, 1, VELK_TAG));
        if (store == nullptr)
            return false;
        memory_free(sa.store, VELK_TAG);
        sa.store = store;
        sa.store_capacity = needed;
    }
    memmove(sa.store, text.text, text.length);
    sa.store[text.length] = 0;
    sa.store_used = needed;
    char* state = nullptr;
    for (char* token = strtok_r(sa.store, delimiters, &state); token != nullptr;
         token = strtok_r(nullptr, delimiters, &state)) {
        string_t entry{token, uint32_t(strlen(token))};
        if (!vector_append(sa.entries, entry) ||
            !vector_append(sa.offsets, static_cast<unsigned long>(token - sa.store)))
            return false;
    }
    return true;
}

string_t stringarray_get(const stringarray_t& sa, uint32_t n) {
    if (n >= sa.entries.count)
        return string_t{};
    return sa.entries.items[n];
}

} // namespace velk
