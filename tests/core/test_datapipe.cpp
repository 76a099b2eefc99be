// The data pipe: blocks in order between two threads, wrapping and ring growth.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "velk/core/datapipe.h"
#include "velk/core/thread.h"

using namespace velk;

namespace {

class DataPipe : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(datapipe_initialise(pipe)); }
    void TearDown() override {
        datapipe_read_detach(pipe);
        datapipe_release(pipe);
    }

    // Reads one block, copying it out.
    bool Read(std::vector<unsigned char>& out) {
        void* data = nullptr;
        unsigned long size = 0;
        if (!datapipe_read_begin(pipe, data, size))
            return false;
        out.assign(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
        datapipe_read_end(pipe);
        return true;
    }

    datapipe_t pipe;
};

uint32_t checksum(const unsigned char* data, size_t size) {
    uint32_t sum = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        sum = (sum ^ data[i]) * 16777619u;
    return sum;
}

} // namespace

TEST_F(DataPipe, EmptyPipeReadsNothingAndAttaches) {
    std::vector<unsigned char> out;
    EXPECT_FALSE(pipe.reader_attached.load());
    EXPECT_FALSE(Read(out));
    EXPECT_TRUE(pipe.reader_attached.load());
}

TEST_F(DataPipe, BlocksArriveInOrderIncludingEmptyOnes) {
    const char* texts[] = {"first", "", "third block"};
    for (const char* text : texts)
        ASSERT_TRUE(datapipe_commit(pipe, text, uint32_t(strlen(text))));
    std::vector<unsigned char> out;
    for (const char* text : texts) {
        ASSERT_TRUE(Read(out));
        EXPECT_EQ(std::string(out.begin(), out.end()), text);
    }
    EXPECT_FALSE(Read(out));
}

TEST_F(DataPipe, RoomUsedPerBlock) {
    void* out = nullptr;
    ASSERT_TRUE(datapipe_write_begin(pipe, out, 0));
    datapipe_write_end(pipe);
    EXPECT_EQ(pipe.write_header, 16u); // a block of size 0 still takes its header
    ASSERT_TRUE(datapipe_write_begin(pipe, out, 5));
    datapipe_write_end(pipe);
    EXPECT_EQ(pipe.write_header, 16u + 8u + 16u);
}

TEST_F(DataPipe, FullRingRefusesUntilTheReaderMovesThenWraps) {
    // Fill most of the ring with blocks of 100,000 bytes.
    std::vector<unsigned char> block(100000, 0xab);
    int written = 0;
    void* out = nullptr;
    unsigned char* ring_start = nullptr; // the first payload follows the first header
    while (datapipe_write_begin(pipe, out, uint32_t(block.size()))) {
        if (ring_start == nullptr)
            ring_start = static_cast<unsigned char*>(out) - DATAPIPE_HeaderSize;
        memcpy(out, block.data(), block.size());
        datapipe_write_end(pipe);
        ++written;
    }
    EXPECT_EQ(written, 10);
    // Reading two blocks frees the start of the ring: the next block wraps there.
    std::vector<unsigned char> got;
    ASSERT_TRUE(Read(got));
    ASSERT_TRUE(Read(got));
    block.assign(block.size(), 0xcd);
    ASSERT_TRUE(datapipe_write_begin(pipe, out, uint32_t(block.size())));
    EXPECT_EQ(out, static_cast<void*>(ring_start));
    memcpy(out, block.data(), block.size());
    datapipe_write_end(pipe);
    for (int i = 2; i < written; ++i) {
        ASSERT_TRUE(Read(got));
        EXPECT_EQ(got[0], 0xab);
    }
    ASSERT_TRUE(Read(got));
    EXPECT_EQ(got.size(), block.size());
    EXPECT_EQ(got.back(), 0xcd);
    EXPECT_FALSE(Read(got));
}

TEST_F(DataPipe, LargeBlockMovesToALargerRing) {
    ASSERT_TRUE(datapipe_commit(pipe, "before", 6));
    std::vector<unsigned char> big(600 * 1024);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<unsigned char>(i * 7);
    // Does not wait for the reader: the old ring keeps its unread block.
    ASSERT_TRUE(datapipe_commit(pipe, big.data(), uint32_t(big.size())));
    EXPECT_EQ(datapipe_ring_size(pipe), 2u * (1048576u + 600u * 1024u));
    ASSERT_TRUE(datapipe_commit(pipe, "after", 5));

    std::vector<unsigned char> got;
    ASSERT_TRUE(Read(got));
    EXPECT_EQ(std::string(got.begin(), got.end()), "before");
    ASSERT_TRUE(Read(got));
    EXPECT_EQ(got, big);
    ASSERT_TRUE(Read(got));
    EXPECT_EQ(std::string(got.begin(), got.end()), "after");
    EXPECT_FALSE(Read(got));
}

TEST_F(DataPipe, BlockJustUnderHalfTheRingNeverHangs) {
    // The worst free run of an empty ring is about half of it; a block near that size
    // must not wait for ever whatever the writer's position.
    std::vector<unsigned char> got;
    std::vector<unsigned char> first(300000);
    ASSERT_TRUE(datapipe_commit(pipe, first.data(), uint32_t(first.size())));
    ASSERT_TRUE(Read(got));
    std::vector<unsigned char> block(524280);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(datapipe_commit(pipe, block.data(), uint32_t(block.size())));
        ASSERT_TRUE(Read(got));
        EXPECT_EQ(got.size(), block.size());
    }
}

TEST_F(DataPipe, ClosedPipeWithoutReaderStopsAWaitingWriter) {
    std::vector<unsigned char> block(200000);
    std::atomic<int> committed{0};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (datapipe_commit(pipe, block.data(), uint32_t(block.size())))
            ++committed;
        done = true;
    });
    while (committed < 4)
        thread_yield();
    thread_sleep(20, TIMER_Milliseconds);
    EXPECT_FALSE(done.load()); // waiting for room
    datapipe_close(pipe);
    writer.join();
    EXPECT_TRUE(done.load());
}

// One thread writes 100,000 blocks of 1 to 600,000 bytes with sequence numbers and
// checksums; another reads them all, in order and intact, across ring moves.
TEST(DataPipeStress, TwoThreadsManyBlocksAcrossRingGrowth) {
    datapipe_t pipe;
    ASSERT_TRUE(datapipe_initialise(pipe));
    constexpr uint32_t Blocks = 100000;
    constexpr uint32_t MaxSize = 600000;
    std::atomic<bool> failed{false};

    std::thread writer([&] {
        std::vector<unsigned char> block(MaxSize);
        uint32_t state = 12345;
        for (uint32_t seq = 0; seq < Blocks && !failed; ++seq) {
            state = state * 1103515245u + 12345u;
            // Mostly small blocks with a large one now and then.
            uint32_t size = (seq % 997 == 0) ? 1 + state % MaxSize : 12 + state % 4096;
            if (size < 12)
                size = 12;
            for (uint32_t i = 8; i < size; ++i)
                block[i] = static_cast<unsigned char>(seq + i);
            uint32_t sum = checksum(block.data() + 8, size - 8);
            memcpy(block.data(), &seq, 4);
            memcpy(block.data() + 4, &sum, 4);
            if (!datapipe_commit(pipe, block.data(), size)) {
                failed = true;
                break;
            }
        }
    });

    uint32_t expected = 0;
    while (expected < Blocks && !failed) {
        void* data = nullptr;
        unsigned long size = 0;
        if (!datapipe_read_begin(pipe, data, size)) {
            thread_yield();
            continue;
        }
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        uint32_t seq = 0, sum = 0;
        memcpy(&seq, bytes, 4);
        memcpy(&sum, bytes + 4, 4);
        if (seq != expected || sum != checksum(bytes + 8, size - 8)) {
            ADD_FAILURE() << "block " << expected << " arrived as " << seq << " or corrupted";
            failed = true;
            datapipe_read_end(pipe);
            break;
        }
        datapipe_read_end(pipe);
        ++expected;
    }
    datapipe_read_detach(pipe);
    datapipe_close(pipe);
    writer.join();
    EXPECT_EQ(expected, Blocks);
    EXPECT_GT(datapipe_ring_size(pipe), DATAPIPE_InitialSize);
    datapipe_release(pipe);
}
