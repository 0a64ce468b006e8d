#include "dab/DABSynchronizer.h"

#include <gtest/gtest.h>

#include <random>

#include "DABTestSignal.h"
#include "support/TestSignals.h"

namespace {

// One OFDM symbol of random QPSK carriers starting at `start` inside a block of noise-free
// zeros, shifted by offsetHz.
std::vector<IQSample> symbolAt(int start, std::size_t count, double offsetHz) {
    DABOFDM ofdm;
    std::mt19937 rng(4);
    std::vector<std::complex<float>> bins(dabtest::kTu);
    for (int k = -768; k <= 768; ++k) {
        if (k == 0) continue;
        bins[static_cast<std::size_t>(k > 0 ? k : dabtest::kTu + k)] =
            std::polar(1.0f, static_cast<float>((rng() % 4) * std::numbers::pi / 2 + std::numbers::pi / 4));
    }
    std::vector<IQSample> block(static_cast<std::size_t>(start));
    dabtest::appendSymbol(block, bins, ofdm);
    block.resize(count);
    for (std::size_t n = 0; n < block.size(); ++n) {
        const std::complex<float> v = std::complex<float>(block[n].i, block[n].q) *
            std::polar(1.0f, static_cast<float>(2.0 * std::numbers::pi * offsetHz * static_cast<double>(n) / dabtest::kRateHz));
        block[n] = {v.real(), v.imag()};
    }
    return block;
}

}  // namespace

TEST(DABSynchronizerTest, FindNullNeedsMoreThanANullAndFourSymbols) {
    const DABSynchronizer sync;
    EXPECT_FALSE(sync.findNull(makeNoise(1, 12'864)).has_value());
    EXPECT_TRUE(sync.findNull(makeNoise(1, 12'865)).has_value());
    EXPECT_FALSE(sync.findNull({}).has_value());
}

TEST(DABSynchronizerTest, NoiseHasNoDepthAndAnEmptyNullIsLimitedByTheFloor) {
    const DABSynchronizer sync;
    const auto noise = sync.findNull(makeNoise(2, 60'000));
    ASSERT_TRUE(noise.has_value());
    // The quietest of ~57,000 windows of 2656 noise samples lies well under 1 dB below the mean.
    EXPECT_LT(noise->nullDepthDB, 1.0f);
    EXPECT_GE(noise->nullDepthDB, 0.0f);
    EXPECT_FALSE(noise->locked);

    const dabtest::Frame frame = dabtest::buildFrame(dabtest::Bits(9216, 0), {.leadSamples = 0});
    const auto lock = sync.findNull(frame.iq);
    ASSERT_TRUE(lock.has_value());
    EXPECT_EQ(lock->nullIndex, 0);
    EXPECT_EQ(lock->nullPower, 0.0f);
    EXPECT_TRUE(lock->locked);
    // Depth = PRS power over the 1e-15 floor (the PRS symbol has unit RMS).
    EXPECT_NEAR(lock->nullDepthDB, 150.0f, 1.0f);
}

TEST(DABSynchronizerTest, EarliestOfEquallyDeepNullsWins) {
    std::vector<IQSample> block = makeNoise(3, 40'000);
    for (int n = 0; n < 2656; ++n) {
        block[static_cast<std::size_t>(6'000 + n)] = {};
        block[static_cast<std::size_t>(25'000 + n)] = {};
    }
    const auto lock = DABSynchronizer().findNull(block);
    ASSERT_TRUE(lock.has_value());
    EXPECT_EQ(lock->nullIndex, 6'000);
    EXPECT_TRUE(lock->locked);
}

TEST(DABSynchronizerTest, FrequencyOffsetFromTheGuardIntervalWrapsAtHalfACarrier) {
    struct Case {
        double offsetHz;
        double expectedHz;  // the estimate covers ±500 Hz only
    };
    const Case cases[] = {{250.0, 250.0}, {-120.0, -120.0}, {600.0, -400.0}, {0.0, 0.0}};
    const DABSynchronizer sync;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetHz);
        const std::vector<IQSample> block = symbolAt(3'000, 8'000, c.offsetHz);
        const auto f = sync.estimateFrequencyOffset(block, 3'010, 80);
        ASSERT_TRUE(f.has_value());
        EXPECT_NEAR(f->offsetHz, c.expectedHz, 0.5);
        EXPECT_EQ(f->symbolStart, 3'000);
        EXPECT_EQ(f->lagSamples, -10);
        EXPECT_NEAR(f->correlation, 1.0f, 1e-3f);
    }
}

TEST(DABSynchronizerTest, OffsetSearchRangeIsCutToTheBlock) {
    const DABSynchronizer sync;
    // near below search: the search starts at 0 and still finds the symbol at 5.
    const std::vector<IQSample> early = symbolAt(5, 6'000, 100.0);
    const auto f = sync.estimateFrequencyOffset(early, 10, 80);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->symbolStart, 5);
    EXPECT_EQ(f->lagSamples, -5);

    // The last start is count − 2553; an empty range gives nothing.
    const std::vector<IQSample> block = makeNoise(5, 10'000);
    const auto cut = sync.estimateFrequencyOffset(block, 7'487, 80);
    ASSERT_TRUE(cut.has_value());
    EXPECT_LE(cut->symbolStart, 10'000 - 2'553);
    EXPECT_FALSE(sync.estimateFrequencyOffset(block, 9'000, 80).has_value());
    EXPECT_FALSE(sync.estimateFrequencyOffset(block, 7'447 + 80, 80).has_value());
}
