// The data pipe: one writer thread, one reader thread, whole blocks in order.
#include "velk/core/datapipe.h"

#include <cstdlib>
#include <cstring>

#include "velk/core/thread.h"
#include "velk/core/timer.h"

namespace velk {

// A ring: a small header, then `size` bytes of blocks. `next` is set by the writer
// before it marks the move to a newer ring.
struct alignas(16) datapipe_ring_t {
    std::atomic<datapipe_ring_t*> next;
    uint32_t size;
};

namespace {

enum block_state_t : uint32_t {
    BLOCK_Writing = 0,
    BLOCK_Ready = 1,
    BLOCK_End = 2,
    BLOCK_Moved = 3,
};

struct block_header_t {
    uint32_t length;  // payload bytes
    uint32_t payload; // offset of the payload in the ring
    uint32_t next;    // offset of the next header
    uint32_t state;   // block_state_t, read and written atomically
};
static_assert(sizeof(block_header_t) == DATAPIPE_HeaderSize, "block header is 16 bytes");

// Payloads are 8-byte aligned so that blocks can carry records with 64-bit fields.
constexpr uint32_t BlockAlignment = 8;

enum reserve_result_t { RESERVE_Ok, RESERVE_NoRoom, RESERVE_Failed };

unsigned char* ring_data(datapipe_ring_t* ring) {
    return reinterpret_cast<unsigned char*>(ring + 1);
}

block_header_t* header_at(datapipe_ring_t* ring, uint32_t offset) {
    return reinterpret_cast<block_header_t*>(ring_data(ring) + offset);
}

uint32_t load_state(const block_header_t* h) {
    return __atomic_load_n(&h->state, __ATOMIC_ACQUIRE);
}

void store_state(block_header_t* h, uint32_t state) {
    __atomic_store_n(&h->state, state, __ATOMIC_RELEASE);
}

datapipe_ring_t* ring_create(uint64_t size) {
    if (size > 0xfffffff0u)
        return nullptr;
    void* block = calloc(1, sizeof(datapipe_ring_t) + size_t(size));
    if (block == nullptr)
        return nullptr;
    datapipe_ring_t* ring = static_cast<datapipe_ring_t*>(block);
    ring->next.store(nullptr, std::memory_order_relaxed);
    ring->size = uint32_t(size);
    header_at(ring, 0)->state = BLOCK_End;
    return ring;
}

// The block of n (aligned) payload bytes would not fit even in an empty ring of this
// size, wherever the writer stands: the worst free run of an empty ring is about half
// of it.
bool too_large(uint32_t n, uint32_t ring_size) {
    return uint64_t(n) + 2 * DATAPIPE_HeaderSize > ring_size / 2;
}

// Moves the writer to a new ring large enough for the block. The reader finishes the
// old ring, follows the move and frees it.
bool move_to_larger_ring(datapipe_t& pipe, uint32_t size) {
    datapipe_ring_t* old = pipe.write_ring;
    uint64_t new_size = (2 * (uint64_t(old->size) + size) + 15) & ~uint64_t(15);
    datapipe_ring_t* ring = ring_create(new_size);
    if (ring == nullptr)
        return false;
    old->next.store(ring, std::memory_order_release);
    store_state(header_at(old, pipe.write_header), BLOCK_Moved);
    pipe.write_ring = ring;
    pipe.write_header = 0;
    pipe.write_data = DATAPIPE_HeaderSize;
    return true;
}

reserve_result_t reserve(datapipe_t& pipe, uint32_t size, void*& out) {
    out = nullptr;
    if (pipe.write_ring == nullptr)
        return RESERVE_Failed;
    uint64_t aligned = (uint64_t(size) + BlockAlignment - 1) & ~uint64_t(BlockAlignment - 1);
    if (aligned > 0x7fffffffu)
        return RESERVE_Failed;
    uint32_t n = uint32_t(aligned);
    if (too_large(n, pipe.write_ring->size) && !move_to_larger_ring(pipe, n))
        return RESERVE_Failed;

    datapipe_ring_t* ring = pipe.write_ring;
    // A reader still in an older ring will enter this one at its start.
    uint32_t reader = 0;
    if (pipe.read_ring.load(std::memory_order_acquire) == ring)
        reader = pipe.reader_position.load(std::memory_order_acquire);
    const uint32_t need = n + DATAPIPE_HeaderSize;
    const uint32_t data = pipe.write_data;
    uint32_t payload;
    if (reader >= data) {
        if (reader - data < need)
            return RESERVE_NoRoom;
        payload = data;
    } else if (ring->size - data >= need) {
        payload = data;
    } else if (reader >= need) {
        payload = 0; // wrap: the payload goes to the ring start, the header stays
    } else {
        return RESERVE_NoRoom;
    }

    block_header_t* end = header_at(ring, payload + n);
    end->length = 0;
    end->payload = 0;
    end->next = 0;
    end->state = BLOCK_End;
    block_header_t* h = header_at(ring, pipe.write_header);
    h->length = size;
    h->payload = payload;
    h->next = payload + n;
    store_state(h, BLOCK_Writing);
    out = ring_data(ring) + payload;
    return RESERVE_Ok;
}

void free_rings(datapipe_t& pipe) {
    datapipe_ring_t* ring = pipe.read_ring.load();
    while (ring != nullptr) {
        datapipe_ring_t* next = ring->next.load();
        bool last = ring == pipe.write_ring;
        free(ring);
        if (last)
            break;
        ring = next;
    }
    pipe.read_ring.store(nullptr);
    pipe.write_ring = nullptr;
    pipe.read_header = 0;
    pipe.reader_position.store(0);
    pipe.write_header = 0;
    pipe.write_data = 0;
}

} // namespace

bool datapipe_initialise(datapipe_t& pipe) {
    pipe.open.store(false);
    pipe.reader_attached.store(false);
    datapipe_ring_t* ring = ring_create(DATAPIPE_InitialSize);
    pipe.write_ring = ring;
    pipe.read_ring.store(ring);
    pipe.write_header = 0;
    pipe.write_data = DATAPIPE_HeaderSize;
    pipe.read_header = 0;
    pipe.reader_position.store(0);
    if (ring == nullptr)
        return false;
    pipe.open.store(true);
    return true;
}

bool datapipe_write_begin(datapipe_t& pipe, void*& out, uint32_t size) {
    return reserve(pipe, size, out) == RESERVE_Ok;
}

void datapipe_write_end(datapipe_t& pipe) {
    if (pipe.write_ring == nullptr)
        return;
    block_header_t* h = header_at(pipe.write_ring, pipe.write_header);
    uint32_t next = h->next;
    store_state(h, BLOCK_Ready);
    pipe.write_header = next;
    pipe.write_data = next + DATAPIPE_HeaderSize;
}

namespace {

bool commit(datapipe_t& pipe, const void* data, uint32_t size, uint64_t stall_microseconds,
            uint32_t max_ring_size) {
    uint64_t stalled_since = 0;
    for (;;) {
        void* out = nullptr;
        reserve_result_t result = reserve(pipe, size, out);
        if (result == RESERVE_Failed)
            return false;
        if (result == RESERVE_Ok) {
            if (size > 0)
                memcpy(out, data, size);
            datapipe_write_end(pipe);
            return true;
        }
        if (!pipe.open.load() && !pipe.reader_attached.load())
            return false;
        if (max_ring_size > 0) {
            uint64_t now = timer_now();
            if (stalled_since == 0) {
                stalled_since = now;
            } else if (now - stalled_since > stall_microseconds &&
                       pipe.write_ring->size < max_ring_size) {
                if (!move_to_larger_ring(pipe, 0))
                    return false;
                stalled_since = 0;
                continue;
            }
        }
        thread_yield();
    }
}

} // namespace

bool datapipe_commit(datapipe_t& pipe, const void* data, uint32_t size) {
    return commit(pipe, data, size, 0, 0);
}

bool datapipe_commit_growing(datapipe_t& pipe, const void* data, uint32_t size,
                             uint64_t stall_microseconds, uint32_t max_ring_size) {
    return commit(pipe, data, size, stall_microseconds, max_ring_size);
}

bool datapipe_read_begin(datapipe_t& pipe, void*& data, unsigned long& size) {
    pipe.reader_attached.store(true);
    datapipe_ring_t* ring = pipe.read_ring.load(std::memory_order_relaxed);
    while (ring != nullptr) {
        block_header_t* h = header_at(ring, pipe.read_header);
        uint32_t state = load_state(h);
        if (state == BLOCK_Ready) {
            data = ring_data(ring) + h->payload;
            size = h->length;
            return true;
        }
        if (state != BLOCK_Moved)
            return false;
        // Every block of this ring has been read: follow the writer into the next one.
        datapipe_ring_t* next = ring->next.load(std::memory_order_acquire);
        pipe.read_header = 0;
        pipe.reader_position.store(0, std::memory_order_release);
        pipe.read_ring.store(next, std::memory_order_release);
        free(ring);
        ring = next;
    }
    return false;
}

void datapipe_read_end(datapipe_t& pipe) {
    datapipe_ring_t* ring = pipe.read_ring.load(std::memory_order_relaxed);
    if (ring == nullptr)
        return;
    block_header_t* h = header_at(ring, pipe.read_header);
    if (load_state(h) != BLOCK_Ready)
        return;
    uint32_t next = h->next;
    pipe.read_header = next;
    pipe.reader_position.store(next, std::memory_order_release);
}

void datapipe_read_attach(datapipe_t& pipe) { pipe.reader_attached.store(true); }

void datapipe_read_detach(datapipe_t& pipe) { pipe.reader_attached.store(false); }

void datapipe_close(datapipe_t& pipe) { pipe.open.store(false); }

void datapipe_release(datapipe_t& pipe) {
    pipe.open.store(false);
    while (pipe.reader_attached.load())
        thread_yield();
    free_rings(pipe);
}

bool datapipe_release_bounded(datapipe_t& pipe, uint64_t microseconds) {
    pipe.open.store(false);
    uint64_t start = timer_now();
    while (pipe.reader_attached.load()) {
        if (timer_now() - start > microseconds)
            return false;
        thread_yield();
    }
    free_rings(pipe);
    return true;
}

uint32_t datapipe_ring_size(const datapipe_t& pipe) {
    return pipe.write_ring != nullptr ? pipe.write_ring->size : 0;
}

} // namespace velk
