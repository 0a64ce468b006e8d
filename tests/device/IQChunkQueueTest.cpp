#include "device/IQChunkQueue.h"

#include <fstream>
#include <memory>
#include <random>

#include <unistd.h>

#include <gtest/gtest.h>

#include "IQRingReference.h"

namespace {

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VANTIREL_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(VANTIREL_TSAN)
constexpr bool kCallocZeroesEagerly = true;
#else
constexpr bool kCallocZeroesEagerly = false;
#endif

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t sizePages = 0, residentPages = 0;
    statm >> sizePages >> residentPages;
    return residentPages * sysconf(_SC_PAGESIZE);
}

}  // namespace

TEST(IQChunkQueueTest, FullSizeStorageIsCommittedOnlyWhereSamplesGo) {
    // The thread sanitizer's calloc memsets every block, committing it all.
    if (kCallocZeroesEagerly) GTEST_SKIP() << "calloc zeroes eagerly under the thread sanitizer";
    const std::int64_t before = residentBytes();
    auto first = std::make_unique<IQChunkQueue>();
    auto second = std::make_unique<IQChunkQueue>();
    ASSERT_EQ(first->capacity(), IQChunkQueue::kCapacity);
    ASSERT_EQ(second->capacity(), IQChunkQueue::kCapacity);
    for (int block = 0; block < 16; ++block) first->push(numberedSamples(block * 65'536, 65'536));
    EXPECT_EQ(first->pop(65'536), numberedSamples(0, 65'536));
    EXPECT_EQ(first->available(), 15 * 65'536);
    // Two eagerly zeroed queues would be 2.56 GB resident; 16 blocks touch 8 MB.
    EXPECT_LT(residentBytes() - before, 128 * 1024 * 1024);
}

TEST(IQChunkQueueTest, OverflowCountsEveryOverwrittenSample) {
    struct Case { std::int64_t capacity, prefill, push; };
    const Case cases[] = {{8, 0, 8},    {8, 0, 9},    {8, 5, 4},
                          {8, 3, 30},   {100, 99, 1}, {100, 0, 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity << " " << c.prefill << " " << c.push);
        IQChunkQueue queue(c.capacity);
        queue.push(numberedSamples(0, c.prefill));
        queue.push(numberedSamples(c.prefill, c.push));
        const std::int64_t total = c.prefill + c.push;
        EXPECT_EQ(queue.dropped(), std::max<std::int64_t>(0, total - c.capacity));
        EXPECT_EQ(queue.available(), std::min(total, c.capacity));
        const std::int64_t kept = std::min(total, c.capacity);
        EXPECT_EQ(queue.pop(total), numberedSamples(total - kept, kept));
    }
}

TEST(IQChunkQueueTest, MatchesPerSampleModelIncludingDropped) {
    IQChunkQueue queue(50);
    IQRingReference ref(50);
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::int64_t> size(0, 170);
    std::int64_t next = 0;
    for (int step = 0; step < 500; ++step) {
        SCOPED_TRACE(step);
        if (rng() % 2 == 0) {
            const auto block = numberedSamples(next, size(rng));
            next += static_cast<std::int64_t>(block.size());
            queue.push(block);
            ref.write(block);
        } else {
            const std::int64_t n = size(rng) - 20;  // includes non-positive counts
            EXPECT_EQ(queue.pop(n), ref.read(n));
        }
        ASSERT_EQ(queue.readIndex(), ref.readIndex);
        ASSERT_EQ(queue.writeIndex(), ref.writeIndex);
        ASSERT_EQ(queue.available(), ref.count);
        ASSERT_EQ(queue.dropped(), ref.dropped);
    }
}

TEST(IQChunkQueueTest, EmptyPushAndClear) {
    IQChunkQueue queue(16);
    queue.push(numberedSamples(0, 20));
    queue.pop(3);
    const std::int64_t readAt = queue.readIndex(), writeAt = queue.writeIndex();
    queue.push({});
    EXPECT_EQ(queue.readIndex(), readAt);
    EXPECT_EQ(queue.writeIndex(), writeAt);
    EXPECT_EQ(queue.available(), 13);
    EXPECT_EQ(queue.dropped(), 4);

    queue.clear();
    EXPECT_EQ(queue.available(), 0);
    std::vector<IQSample> out(8);
    EXPECT_EQ(queue.pop(out), 0u);
    queue.push(numberedSamples(9, 2));
    EXPECT_EQ(queue.writeIndex(), 2);
    EXPECT_EQ(queue.pop(out), 2u);
    EXPECT_EQ(out[1], numberedSamples(10, 1)[0]);
}
