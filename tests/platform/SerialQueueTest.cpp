#include "platform/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

TEST(SerialQueueTest, TasksRunInSubmissionOrderOffTheCaller) {
    SerialQueue queue("test.serial", ThreadPriority::utility);
    std::vector<int> order;  // only the queue's thread writes it until drain returns
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> ranElsewhere{true};
    for (int k = 0; k < 100; ++k)
        queue.async([&, k] {
            if (std::this_thread::get_id() == caller) ranElsewhere = false;
            order.push_back(k);
        });
    queue.drain();
    ASSERT_EQ(order.size(), 100u);
    for (int k = 0; k < 100; ++k) EXPECT_EQ(order[k], k);
    EXPECT_TRUE(ranElsewhere);
}

TEST(SerialQueueTest, DestructorRunsEverythingQueued) {
    std::atomic<int> runs{0};
    {
        SerialQueue queue("test.drain", ThreadPriority::utility);
        for (int k = 0; k < 1000; ++k) queue.async([&] { ++runs; });
    }
    EXPECT_EQ(runs.load(), 1000);
}

TEST(SerialQueueTest, SyncReturnsAfterItsTask) {
    SerialQueue queue("test.sync", ThreadPriority::defaultPriority);
    int value = 0;
    queue.sync([&] { value = 42; });
    EXPECT_EQ(value, 42);
}
