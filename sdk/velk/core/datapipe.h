// The data pipe: a lock-free byte pipe carrying whole blocks from one writer thread to
// one reader thread, in order.
//
// Blocks are carved out of a ring. Each block has a 16-byte header inside the ring:
// payload length, payload offset, offset of the next header (offsets from the ring
// start, so the header fits in 16 bytes on any pointer size) and a state word:
// 0 being written, 1 ready, 2 end marker, 3 the writer moved to a newer ring.
//
// A block too large for the ring makes the writer move to a new ring of
// 2 x (old size + block size) bytes. The old ring stays alive until the reader has read
// every block in it and followed the move; the reader then frees it. So a commit never
// waits for ever on a block that cannot fit, and no ring is freed while the reader may
// still be looking at it.
#pragma once

#include <atomic>
#include <cstdint>

namespace velk {

constexpr uint32_t DATAPIPE_InitialSize = 1048576;
constexpr uint32_t DATAPIPE_HeaderSize = 16;

struct datapipe_ring_t; // the ring block; see datapipe.cpp

struct datapipe_t {
    std::atomic<bool> open{false};            // the writer side is alive
    std::atomic<bool> reader_attached{false}; // a reader is using the pipe
    // Writer side.
    datapipe_ring_t* write_ring = nullptr;
    uint32_t write_header = 0; // the header the writer fills next
    uint32_t write_data = 0;   // where the next payload would start (write_header + 16)
    // Reader side, published to the writer.
    std::atomic<datapipe_ring_t*> read_ring{nullptr};
    std::atomic<uint32_t> reader_position{0}; // the header the reader stands on
    uint32_t read_header = 0;                 // the header to be read next
};

// Allocates a zeroed ring of 1 MiB whose first header is the end marker; sets open.
// False when the allocation fails (open stays cleared; safe to release).
bool datapipe_initialise(datapipe_t& pipe);
// Reserves room for a block of `size` bytes without waiting and hands out its payload.
// False when there is no room now. A block larger than the ring can take moves the
// writer to a larger ring (false only when that allocation fails).
bool datapipe_write_begin(datapipe_t& pipe, void*& out, uint32_t size);
// Publishes the block reserved by datapipe_write_begin.
void datapipe_write_end(datapipe_t& pipe);
// write_begin, copy and write_end in one call, waiting (yielding) while the pipe is
// full. False only when the pipe has no ring, a larger ring cannot be allocated, or it
// is closed and no reader is attached while waiting.
bool datapipe_commit(datapipe_t& pipe, const void* data, uint32_t size);
// As datapipe_commit, but a pipe that stays full for `stall_microseconds` while its ring
// is smaller than `max_ring_size` is given a ring twice as large instead of waiting
// longer. Two threads that each wait for room in the other's pipe thus never wait on
// each other for ever.
bool datapipe_commit_growing(datapipe_t& pipe, const void* data, uint32_t size,
                             uint64_t stall_microseconds, uint32_t max_ring_size);
// Attaches the reader; hands out the next ready block, or false (nothing to read, no
// ring). The payload stays valid until datapipe_read_end.
bool datapipe_read_begin(datapipe_t& pipe, void*& data, unsigned long& size);
// Gives the block's room back to the writer.
void datapipe_read_end(datapipe_t& pipe);
void datapipe_read_attach(datapipe_t& pipe);
void datapipe_read_detach(datapipe_t& pipe);
// Clears open: a writer waiting for room gives up once no reader is attached either.
void datapipe_close(datapipe_t& pipe);
// Clears open, waits (yielding) until no reader is attached, frees every ring.
void datapipe_release(datapipe_t& pipe);
// As datapipe_release, but waits at most `microseconds` for the reader to detach; when
// it does not, the rings are left allocated (the reader may still use them) and the
// result is false.
bool datapipe_release_bounded(datapipe_t& pipe, uint64_t microseconds);

// The size of the ring the writer is using (for diagnostics and tests).
uint32_t datapipe_ring_size(const datapipe_t& pipe);

} // namespace velk
