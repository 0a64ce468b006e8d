#include "device/IQBuffer.h"

#include <atomic>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "IQRingReference.h"

namespace {

void expectSameState(const IQBuffer& ring, const IQRingReference& ref) {
    EXPECT_EQ(ring.readIndex(), ref.readIndex);
    EXPECT_EQ(ring.writeIndex(), ref.writeIndex);
    EXPECT_EQ(ring.available(), ref.count);
}

}  // namespace

TEST(IQBufferTest, MatchesPerSampleModelForAnyMixOfWritesAndReads) {
    // Sizes range past three capacities so single writes wrap and overflow several times.
    for (const std::int64_t capacity : {1, 2, 7, 64, 1000}) {
        SCOPED_TRACE(capacity);
        IQBuffer ring(capacity);
        IQRingReference ref(capacity);
        std::mt19937 rng(static_cast<unsigned>(capacity));
        std::uniform_int_distribution<std::int64_t> size(0, 3 * capacity + 2);
        std::int64_t next = 0;
        for (int step = 0; step < 400; ++step) {
            SCOPED_TRACE(step);
            if (rng() % 2 == 0) {
                const auto block = numberedSamples(next, size(rng));
                next += static_cast<std::int64_t>(block.size());
                ring.write(block);
                ref.write(block);
            } else if (rng() % 2 == 0) {
                const std::int64_t n = size(rng);
                EXPECT_EQ(ring.read(n), ref.read(n));
            } else {
                std::vector<IQSample> out(static_cast<std::size_t>(size(rng)));
                const std::size_t got = ring.read(out);
                const auto expected = ref.read(static_cast<std::int64_t>(out.size()));
                ASSERT_EQ(got, expected.size());
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
            }
            expectSameState(ring, ref);
        }
    }
}

TEST(IQBufferTest, OverfillKeepsTheLastCapacitySamplesOldestFirst) {
    struct Case { std::int64_t capacity, prefill, extra; };
    const Case cases[] = {{8, 0, 3}, {8, 0, 8}, {8, 5, 21}, {262'144, 0, 65'536},
                          {262'144, 100, 1'000'000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity << " " << c.prefill << " " << c.extra);
        IQBuffer ring(c.capacity);
        ring.write(numberedSamples(0, c.prefill));
        ring.read(c.prefill);  // move the indices off slot 0
        const std::int64_t total = c.capacity + c.extra;
        ring.write(numberedSamples(1000, total));

        EXPECT_EQ(ring.available(), c.capacity);
        EXPECT_EQ(ring.readIndex(), (c.prefill + c.extra) % c.capacity);
        EXPECT_EQ(ring.read(total), numberedSamples(1000 + c.extra, c.capacity));
    }
}

TEST(IQBufferTest, EmptyOrNonPositiveReadsReturnNothingAndChangeNothing) {
    IQBuffer ring(16);
    ring.write(numberedSamples(0, 20));
    ring.read(20);
    const std::int64_t readAt = ring.readIndex(), writeAt = ring.writeIndex();
    EXPECT_TRUE(ring.read(10).empty());
    std::vector<IQSample> out(4);
    EXPECT_EQ(ring.read(out), 0u);

    ring.write(numberedSamples(0, 3));
    for (const std::int64_t maxCount : {0, -1, -1000}) {
        SCOPED_TRACE(maxCount);
        EXPECT_TRUE(ring.read(maxCount).empty());
        EXPECT_EQ(ring.available(), 3);
    }
    EXPECT_EQ(ring.readIndex(), readAt);
    EXPECT_EQ(ring.writeIndex(), (writeAt + 3) % 16);
}

TEST(IQBufferTest, ClearEmptiesAndTheNextWriteStartsAtSlotZero) {
    IQBuffer ring(10);
    ring.write(numberedSamples(0, 13));
    ring.read(2);
    ring.clear();
    EXPECT_EQ(ring.available(), 0);
    EXPECT_TRUE(ring.read(5).empty());

    ring.write(numberedSamples(50, 4));
    EXPECT_EQ(ring.readIndex(), 0);
    EXPECT_EQ(ring.writeIndex(), 4);
    EXPECT_EQ(ring.read(10), numberedSamples(50, 4));
}

TEST(IQBufferTest, ConcurrentReaderSeesOneOrderedStream) {
    // A slow reader may lose samples, but never sees them reordered, duplicated or torn.
    IQBuffer ring(4096);
    constexpr std::int64_t kBlocks = 2000, kBlock = 1000;
    std::atomic<bool> writerDone{false};
    std::jthread writer([&] {
        for (std::int64_t b = 0; b < kBlocks; ++b) ring.write(numberedSamples(b * kBlock, kBlock));
        writerDone = true;
    });
    float last = -1.0f;
    std::vector<IQSample> out(777);
    for (;;) {
        const bool finished = writerDone.load();
        const std::size_t n = ring.read(out);
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_GT(out[k].i, last);
            ASSERT_EQ(out[k].q, -out[k].i);
            last = out[k].i;
        }
        if (finished && n == 0) break;
    }
    EXPECT_EQ(last, static_cast<float>(kBlocks * kBlock - 1));
}

TEST(IQBufferTest, DropOldestCountsEveryOverwrittenSampleButNotClearedOnes) {
    IQBuffer ring(8);
    ring.write(numberedSamples(0, 5));
    EXPECT_EQ(ring.droppedSamples(), 0u);
    ring.write(numberedSamples(5, 6));  // 11 into 8 slots: 0, 1, 2 overwritten
    EXPECT_EQ(ring.droppedSamples(), 3u);
    ring.write(numberedSamples(11, 20));  // more than the capacity in one write
    EXPECT_EQ(ring.droppedSamples(), 23u);
    EXPECT_EQ(ring.read(3), numberedSamples(23, 3));
    ring.clear();  // discarded on purpose, not lost
    ring.write(numberedSamples(31, 8));
    EXPECT_EQ(ring.droppedSamples(), 23u);
    EXPECT_EQ(ring.totalWritten(), 39u);
    EXPECT_EQ(ring.totalRead(), 3u);
}

TEST(IQBufferTest, WaitingWriterDeliversEverySampleInOrderToASlowerReader) {
    // Writes of up to three capacities and reads of another size: the writer must wait and be
    // woken many times, and nothing may be lost, repeated or reordered.
    for (const std::int64_t capacity : {1, 7, 4096}) {
        SCOPED_TRACE(capacity);
        IQBuffer ring(capacity, OverflowPolicy::waitForReader);
        const std::int64_t total = 20 * capacity + 5'000;
        std::jthread writer([&] {
            std::mt19937 rng(static_cast<unsigned>(capacity));
            std::uniform_int_distribution<std::int64_t> size(1, 3 * capacity + 2);
            for (std::int64_t next = 0; next < total;) {
                const std::int64_t n = std::min(total - next, size(rng));
                ring.write(numberedSamples(next, n));
                next += n;
            }
        });
        std::vector<IQSample> out(333);
        for (std::int64_t expected = 0; expected < total;) {
            const std::size_t n = ring.read(out);
            for (std::size_t k = 0; k < n; ++k, ++expected)
                ASSERT_EQ(out[k].i, static_cast<float>(expected));
        }
        writer.join();
        EXPECT_EQ(ring.available(), 0);
        EXPECT_EQ(ring.droppedSamples(), 0u);
        EXPECT_EQ(ring.totalWritten(), static_cast<std::uint64_t>(total));
        EXPECT_EQ(ring.totalRead(), static_cast<std::uint64_t>(total));
    }
}

TEST(IQBufferTest, ReadWakesAWaitingWriterAndClearDiscardsWhatItStillHeld) {
    {
        SCOPED_TRACE("read");
        IQBuffer ring(8, OverflowPolicy::waitForReader);
        ring.write(numberedSamples(0, 8));
        std::jthread writer([&] { ring.write(numberedSamples(8, 4)); });  // waits: no room
        EXPECT_EQ(ring.read(4), numberedSamples(0, 4));
        writer.join();
        EXPECT_EQ(ring.read(100), numberedSamples(4, 8));
    }
    {
        // The held samples predate the clear (a retune) just like those in the ring.
        SCOPED_TRACE("clear");
        IQBuffer ring(8, OverflowPolicy::waitForReader);
        ring.write(numberedSamples(0, 6));
        std::jthread writer([&] { ring.write(numberedSamples(6, 10)); });
        while (ring.totalWritten() < 8) std::this_thread::yield();  // 2 fit, 8 are held
        ring.clear();
        writer.join();
        EXPECT_EQ(ring.available(), 0);
        ring.write(numberedSamples(100, 3));
        EXPECT_EQ(ring.read(100), numberedSamples(100, 3));
        EXPECT_EQ(ring.droppedSamples(), 0u);
    }
}

TEST(IQBufferTest, CloseReleasesABlockedWriterAndLaterWritesStoreNothing) {
    for (const OverflowPolicy policy : {OverflowPolicy::waitForReader, OverflowPolicy::dropOldest}) {
        SCOPED_TRACE(policy == OverflowPolicy::waitForReader ? "wait" : "drop");
        IQBuffer ring(8, policy);
        ring.write(numberedSamples(0, 6));
        std::jthread writer;
        if (policy == OverflowPolicy::waitForReader) {
            // Two samples fit; the writer then waits for room that no reader will make.
            writer = std::jthread([&] { ring.write(numberedSamples(6, 10)); });
            while (ring.totalWritten() < 8) std::this_thread::yield();
        }
        ring.close();
        if (writer.joinable()) writer.join();
        ring.write(numberedSamples(100, 3));
        ring.close();  // idempotent
        const std::int64_t kept = policy == OverflowPolicy::waitForReader ? 8 : 6;
        EXPECT_EQ(ring.read(100), numberedSamples(0, kept));
        EXPECT_EQ(ring.droppedSamples(), 0u);
    }
}
