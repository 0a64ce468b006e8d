#include "control/CPUMonitor.h"

#include <gtest/gtest.h>

namespace {

struct FakeClocks {
    double cpu = 10.0;
    double wall = 1000.0;
    int processors = 4;
    CPUMonitor::Clocks clocks() {
        return {.cpuSeconds = [this] { return cpu; },
                .wallSeconds = [this] { return wall; },
                .activeProcessors = [this] { return processors; }};
    }
};

}  // namespace

TEST(CPUMonitorTest, LoadIsSharedAcrossCoresAndClamped) {
    struct Case {
        double cpuUsed, wallElapsed;
        int processors;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {2.0, 1.0, 4, 50.0},           // two cores busy of four
        {1.0, 1.0, 1, 100.0},          // one core fully busy
        {8.0, 1.0, 4, 100.0},          // more than all cores: clamped
        {-1.0, 1.0, 4, 0.0},           // CPU clock went backwards: never negative
        {1.0, 0.0, 4, std::nullopt},   // no wall time passed: nothing to report
        {1.0, -2.0, 4, std::nullopt},
        {0.5, 1.0, 0, 50.0},           // zero processors reported: counted as one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cpuUsed);
        FakeClocks fake;
        fake.processors = c.processors;
        CPUMonitor monitor(fake.clocks());
        fake.cpu += c.cpuUsed;
        fake.wall += c.wallElapsed;
        const auto result = monitor.sample();
        ASSERT_EQ(result.has_value(), c.expected.has_value());
        if (result) {
            EXPECT_NEAR(*result, *c.expected, 1e-9);
        }
    }
}

TEST(CPUMonitorTest, EachSampleMeasuresSinceThePreviousOne) {
    FakeClocks fake;
    fake.processors = 2;
    CPUMonitor monitor(fake.clocks());
    fake.cpu += 1.0;
    fake.wall += 1.0;
    EXPECT_NEAR(*monitor.sample(), 50.0, 1e-9);
    fake.cpu += 0.2;
    fake.wall += 1.0;
    EXPECT_NEAR(*monitor.sample(), 10.0, 1e-9);
}

TEST(CPUMonitorTest, SystemClocksReportThisProcess) {
    CPUMonitor monitor;
    EXPECT_GE(monitor.coreCount, 1.0);
    volatile double sink = 0;
    for (int k = 0; k < 2'000'000; ++k) sink = sink + k * 0.5;
    const auto percent = monitor.sample();
    ASSERT_TRUE(percent);
    EXPECT_GE(*percent, 0.0);
    EXPECT_LE(*percent, 100.0);
}
