#include <gtest/gtest.h>

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

}  // namespace
