// The owned byte buffer.
#include "velk/core/memorybuffer.h"

#include <cstring>

#include "velk/core/memory.h"

namespace velk {
namespace {

// Replaces the block by a zeroed one of capacity + 1 bytes holding the current bytes.
bool regrow(memorybuffer_t& mb, uint32_t capacity) {
    unsigned char* block =
        static_cast<unsigned char*>(memory_alloc(size_t(capacity) + 1, 1, VELK_TAG));
    if (block == nullptr)
        return false;
    memset(block, 0, size_t(capacity) + 1);
    if (mb.data != nullptr && mb.length > 0)
        memcpy(block, mb.data, mb.length);
    memory_free(mb.data, VELK_TAG);
    mb.data = block;
    mb.capacity = capacity;
    return true;
}

bool points_into(const memorybuffer_t& mb, const unsigned char* src) {
    return mb.data != nullptr && src >= mb.data && src <= mb.data + mb.capacity;
}

} // namespace

void memorybuffer_initialise(memorybuffer_t& mb) {
    mb.data = nullptr;
    mb.length = 0;
    mb.capacity = 0;
}

void memorybuffer_release(memorybuffer_t& mb) {
    memory_free(mb.data, VELK_TAG);
    memorybuffer_initialise(mb);
}

bool memorybuffer_set(memorybuffer_t& mb, const unsigned char* src, uint32_t length) {
    if (src == nullptr || length == 0) {
        memorybuffer_release(mb);
        return true;
    }
    if (mb.capacity < length) {
        if (length == 0xffffffffu)
            return false;
        unsigned char* block =
            static_cast<unsigned char*>(memory_alloc(size_t(length) + 1, 1, VELK_TAG));
        if (block == nullptr)
            return false;
        memcpy(block, src, length);
        memory_free(mb.data, VELK_TAG);
        mb.data = block;
        mb.capacity = length;
    } else {
        memmove(mb.data, src, length);
    }
    mb.length = length;
    mb.data[length] = 0;
    return true;
}

bool memorybuffer_append(memorybuffer_t& mb, const unsigned char* src, uint32_t length) {
    if (src == nullptr || length == 0)
        return true;
    uint64_t needed = uint64_t(mb.length) + length;
    if (needed >= 0xffffffffu)
        return false;
    if (mb.capacity < needed) {
        bool aliased = points_into(mb, src);
        size_t offset = aliased ? size_t(src - mb.data) : 0;
        if (!regrow(mb, uint32_t(needed)))
            return false;
        if (aliased)
            src = mb.data + offset;
    }
    memmove(mb.data + mb.length, src, length);
    mb.length = uint32_t(needed);
    mb.data[mb.length] = 0;
    return true;
}

bool memorybuffer_lock(memorybuffer_t& mb, uint32_t size, unsigned char*& out) {
    out = nullptr;
    if (size == 0xffffffffu)
        return false;
    if ((mb.capacity < size || mb.data == nullptr) && !regrow(mb, size))
        return false;
    out = mb.data;
    return true;
}

void memorybuffer_unlock(memorybuffer_t& mb, uint32_t length) {
    if (mb.data == nullptr)
        return;
    if (length > mb.capacity)
        length = mb.capacity;
    mb.length = length;
    mb.data[length] = 0;
}

} // namespace velk
