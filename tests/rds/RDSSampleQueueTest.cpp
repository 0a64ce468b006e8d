#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "rds/RDSSampleQueue.h"

namespace {

TEST(RDSSampleQueueTest, KeepsTheNewestBlocksWhenFull) {
    RDSSampleQueue queue;  // 20 blocks
    for (int b = 1; b <= 25; ++b) {
        const std::vector<float> block(3, static_cast<float>(b));
        queue.push(block);
    }
    EXPECT_EQ(queue.size(), 20U);
    EXPECT_EQ(queue.droppedBlocks(), 5U);
    for (int expected = 6; expected <= 25; ++expected) {
        const auto block = queue.pop();
        ASSERT_TRUE(block.has_value());
        EXPECT_EQ(*block, std::vector<float>(3, static_cast<float>(expected)));
    }
    EXPECT_FALSE(queue.pop().has_value());
}

TEST(RDSSampleQueueTest, PopIntoBufferSwapsAndLeavesItAloneWhenEmpty) {
    RDSSampleQueue queue(2);
    std::vector<float> out = {9.0f};
    EXPECT_FALSE(queue.pop(out));
    EXPECT_EQ(out, std::vector<float>{9.0f});
    // Wraps the ring several times; sizes differ per block.
    for (int b = 0; b < 7; ++b) {
        queue.push(std::vector<float>(static_cast<std::size_t>(b + 1), static_cast<float>(b)));
        if (b % 3 == 2) {
            ASSERT_TRUE(queue.pop(out));
            EXPECT_EQ(out,
                      std::vector<float>(static_cast<std::size_t>(b), static_cast<float>(b - 1)));
        }
    }
    queue.push({});  // an empty block is still a block
    queue.clear();
    EXPECT_EQ(queue.size(), 0U);
    EXPECT_FALSE(queue.pop(out));
}

TEST(RDSSampleQueueTest, WaitingQueueHandsEveryBlockToTheDecoderInOrder) {
    RDSSampleQueue queue(3, OverflowPolicy::waitForReader);
    constexpr int kBlocks = 2'000;
    std::jthread producer([&] {
        for (int b = 0; b < kBlocks; ++b) queue.push(std::vector<float>(4, static_cast<float>(b)));
    });
    std::vector<float> out;
    for (int expected = 0; expected < kBlocks;) {
        if (!queue.pop(out)) continue;
        ASSERT_EQ(out, std::vector<float>(4, static_cast<float>(expected)));
        ++expected;
    }
    producer.join();
    EXPECT_EQ(queue.size(), 0U);
    EXPECT_EQ(queue.droppedBlocks(), 0U);
}

TEST(RDSSampleQueueTest, CloseReleasesAWaitingPushAndLaterPushesAreDiscarded) {
    RDSSampleQueue queue(2, OverflowPolicy::waitForReader);
    queue.push(std::vector<float>{1.0f});
    queue.push(std::vector<float>{2.0f});
    std::jthread producer([&] { queue.push(std::vector<float>{3.0f}); });  // full: waits
    queue.close();
    producer.join();
    queue.push(std::vector<float>{4.0f});
    EXPECT_EQ(queue.size(), 2U);
    EXPECT_EQ(queue.pop(), std::vector<float>{1.0f});
    EXPECT_EQ(queue.pop(), std::vector<float>{2.0f});
    EXPECT_FALSE(queue.pop().has_value());
    EXPECT_EQ(queue.droppedBlocks(), 0U);
}

}  // namespace
