// Change stamps: a process-wide unique id and a version the owner increments each
// time the stamped data changes. A holder of a copy knows the data changed when
// either field differs.
#pragma once

#include <cstdint>

#include "velk/core/memory.h"

namespace velk {

struct version_t {
    int32_t id = 0;
    int32_t version = 0;
};

// The default tag: every stamp and object id of the system shares its counter.
struct version_id_allocator_t {};

// The next id of the counter belonging to `Tag`; the first is 1. Any thread.
template <typename Tag = version_id_allocator_t> int32_t version_object_id() {
    static int counter = 0;
    return atomic_increment(&counter);
}

// A fresh stamp: a new id and version 1.
inline void version_initialise(version_t& v) {
    v.id = version_object_id();
    v.version = 1;
}

// Marks the stamped data as changed.
inline void version_increment(version_t& v) { ++v.version; }

inline bool version_equal(const version_t& a, const version_t& b) {
    return a.id == b.id && a.version == b.version;
}

} // namespace velk
