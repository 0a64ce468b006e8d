#include "control/BandScanMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "control/ScanPeakFinder.h"

namespace {

constexpr float kNoiseDB = -65.0f;
constexpr float kThresholdDB = kNoiseDB + 12.0f;

// Runs a finder over levels at 100 kHz steps from startMHz; the frequencies it reports.
std::vector<double> stationsIn(double startMHz, const std::vector<float>& levels) {
    ScanPeakFinder finder(0.3);  // three steps
    std::vector<double> found;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        const double f = std::round((startMHz + 0.1 * static_cast<double>(k)) * 1e6) / 1e6;
        if (const auto s =
                finder.step({.frequencyMHz = f, .levelDB = levels[k]}, levels[k] > kThresholdDB))
            found.push_back(s->frequencyMHz);
    }
    if (const auto s = finder.finish()) found.push_back(s->frequencyMHz);
    return found;
}

}  // namespace

TEST(BandScanMathTest, BandsStepsAndNoiseEstimate) {
    const auto& bands = BandDefinition::allBands();
    ASSERT_EQ(bands.size(), 12u);
    EXPECT_EQ(bands.front().name, "LW");
    EXPECT_EQ(bands.back().name, "PMR446");
    EXPECT_EQ(&BandDefinition::fmBand(), &bands[4]);

    EXPECT_EQ(scanStepCount(BandDefinition::fmBand()), 206);
    EXPECT_EQ(scanStepCount({.name = "x", .startMHz = 91.0, .endMHz = 93.6, .stepHz = 100'000}),
              27);
    EXPECT_EQ(
        scanStepCount({.name = "tiny", .startMHz = 100.0, .endMHz = 100.01, .stepHz = 100'000}), 1);

    EXPECT_FLOAT_EQ(scanNoiseEstimate({-50, -60, -55}), -60.0f) << "fewer than five: the smallest";
    std::vector<float> twenty;
    for (int k = 0; k < 20; ++k) twenty.push_back(static_cast<float>(-k));
    EXPECT_FLOAT_EQ(scanNoiseEstimate(twenty), -15.0f) << "the fifth smallest of twenty";
}

TEST(ScanPeakFinderTest, RecordsEachStationAtTheStrongestStepOfItsRun) {
    // Levels shaped like the simulated band: a wide FM station reads some 20 dB above the noise
    // at its own step and 10..18 dB at the steps beside it, which its skirt reaches.
    const float n = kNoiseDB;
    struct Case {
        const char* what;
        double startMHz;
        std::vector<float> levels;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"97.3, 97.8 and 98.4, the rising skirt first",
         97.0,
         {n, n, n, -35, n, n, n, -52, -38, -47, n, n, n, -50, -30, n},
         {97.3, 97.8, 98.4}},
        {"a skirt stronger on the falling side", 97.0, {n, -50, -30, -45, n}, {97.2}},
        {"a one-step run", 97.0, {n, n, -40, n}, {97.2}},
        {"a run still open at the band's end", 97.0, {n, n, -51, -33}, {97.3}},
        {"a run at the band's first step", 97.0, {-40, -50, n, n}, {97.0}},
        {"two runs four steps apart are two stations", 97.0, {-40, n, n, n, -40, n}, {97.0, 97.4}},
        {"a second run closer than three steps is the same station",
         97.0,
         {-40, n, -50, n},
         {97.0}},
        {"nothing above the threshold", 97.0, {n, n, n}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<double> found = stationsIn(c.startMHz, c.levels);
        ASSERT_EQ(found.size(), c.expected.size()) << testing::PrintToString(found);
        for (std::size_t k = 0; k < found.size(); ++k) EXPECT_NEAR(found[k], c.expected[k], 1e-9);
    }
}

TEST(ScanPeakFinderTest, KeepsThePeakLevelAndForgetsAClosedRun) {
    ScanPeakFinder finder(0.3);
    EXPECT_FALSE(finder.step({.frequencyMHz = 100.0, .levelDB = -45.0f}, true));
    EXPECT_FALSE(finder.step({.frequencyMHz = 100.1, .levelDB = -30.0f}, true));
    EXPECT_FALSE(finder.step({.frequencyMHz = 100.2, .levelDB = -44.0f}, true));
    const auto station = finder.step({.frequencyMHz = 100.3, .levelDB = -64.0f}, false);
    ASSERT_TRUE(station);
    EXPECT_EQ(*station, (ScanReading{.frequencyMHz = 100.1, .levelDB = -30.0f}));
    EXPECT_FALSE(finder.finish()) << "the run was closed";
}
