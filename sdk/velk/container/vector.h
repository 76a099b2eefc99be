// The owning array (vector_t) and the non-owning slice (array_t). Elements are
// plain data copied by bytes; a full vector doubles its block when appended to.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "velk/core/memory.h"

namespace velk {

template <typename T> struct vector_t {
    T* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

template <typename T> struct array_t {
    T* items = nullptr;
    uint32_t count = 0;
};

// Creates an empty vector with room for `capacity` elements (0 allocates nothing).
// False when memory runs out; the vector is then empty and safe to release.
template <typename T> bool vector_initialise(vector_t<T>& v, uint32_t capacity) {
    static_assert(std::is_trivially_copyable_v<T>, "vector_t holds plain data");
    v.items = nullptr;
    v.count = 0;
    v.capacity = 0;
    if (capacity == 0)
        return true;
    v.items = static_cast<T*>(memory_alloc(sizeof(T) * size_t(capacity), alignof(T), VELK_TAG));
    if (v.items == nullptr)
        return false;
    v.capacity = capacity;
    return true;
}

// Frees the block and zeroes all three fields; safe to call twice.
template <typename T> void vector_release(vector_t<T>& v) {
    memory_free(v.items, VELK_TAG);
    v.items = nullptr;
    v.count = 0;
    v.capacity = 0;
}

// Makes room for at least `capacity` elements, keeping the current ones.
template <typename T> bool vector_reserve(vector_t<T>& v, uint32_t capacity) {
    if (capacity <= v.capacity)
        return true;
    T* items = static_cast<T*>(memory_alloc(sizeof(T) * size_t(capacity), alignof(T), VELK_TAG));
    if (items == nullptr)
        return false;
    if (v.count > 0)
        memcpy(static_cast<void*>(items), v.items, sizeof(T) * size_t(v.count));
    memory_free(v.items, VELK_TAG);
    v.items = items;
    v.capacity = capacity;
    return true;
}

// Appends a copy of `item` (which may be an element of the vector itself). A full
// vector doubles; an empty one of capacity 0 starts with room for 4. False when
// memory runs out (the vector is unchanged).
template <typename T> bool vector_append(vector_t<T>& v, const T& item) {
    if (v.count == v.capacity) {
        if (v.capacity >= 0x80000000u)
            return false;
        T copy = item;
        if (!vector_reserve(v, v.capacity == 0 ? 4u : v.capacity * 2u))
            return false;
        memcpy(static_cast<void*>(&v.items[v.count]), &copy, sizeof(T));
    } else {
        memmove(static_cast<void*>(&v.items[v.count]), &item, sizeof(T));
    }
    ++v.count;
    return true;
}

// Removes the element at `index`; later elements move down one place. False when
// the index is out of range.
template <typename T> bool vector_remove(vector_t<T>& v, uint32_t index) {
    if (index >= v.count)
        return false;
    if (index + 1 < v.count)
        memmove(static_cast<void*>(&v.items[index]), &v.items[index + 1],
                sizeof(T) * size_t(v.count - index - 1));
    --v.count;
    return true;
}

// Forgets every element; the block stays allocated.
template <typename T> void vector_clear(vector_t<T>& v) { v.count = 0; }

template <typename T> array_t<T> vector_as_array(const vector_t<T>& v) {
    return array_t<T>{v.items, v.count};
}

} // namespace velk
