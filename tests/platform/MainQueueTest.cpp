#include "platform/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(MainQueueTest, PostedWorkRunsInOrderOnlyWhenPumped) {
    MainQueue queue;
    std::vector<int> seen;
    queue.post([&] { seen.push_back(1); });
    queue.post([&] { seen.push_back(2); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(queue.runPending(), 2u);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    EXPECT_EQ(queue.runPending(), 0u);
}

TEST(MainQueueTest, WorkPostedByATaskRunsOnTheNextTurn) {
    MainQueue queue;
    int runs = 0;
    queue.post([&] {
        ++runs;
        queue.post([&] { ++runs; });
    });
    queue.runPending();
    EXPECT_EQ(runs, 1);
    queue.runPending();
    EXPECT_EQ(runs, 2);
}

TEST(MainQueueTest, PostsFromManyThreadsAllArrive) {
    MainQueue queue;
    int total = 0;  // touched only by the pumping thread
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t)
        producers.emplace_back([&] {
            for (int k = 0; k < 500; ++k) queue.post([&] { ++total; });
        });
    for (auto& p : producers) p.join();
    EXPECT_TRUE(queue.runUntil([&] { return total == 2000; }, 5s));
}

TEST(MainQueueTest, TimersFireAndCanBeCancelled) {
    MainQueue queue;
    int once = 0, repeats = 0;
    queue.postAfter(0.01, [&] { ++once; });
    const auto id = queue.addRepeatingTimer(0.01, [&] { ++repeats; });
    EXPECT_TRUE(queue.runUntil([&] { return once == 1 && repeats >= 3; }, 5s));
    queue.cancelTimer(id);
    const int afterCancel = repeats;
    queue.runUntil([] { return false; }, 50ms);
    EXPECT_EQ(repeats, afterCancel);
    EXPECT_EQ(once, 1);
}

TEST(MainQueueTest, WakeHookIsCalledForEveryPost) {
    MainQueue queue;
    std::atomic<int> wakes{0};
    queue.setWakeHook([&] { ++wakes; });
    std::thread t([&] { queue.post([] {}); });
    t.join();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(queue.secondsUntilNextEvent(), 0.0);
}
