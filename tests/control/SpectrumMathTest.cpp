#include "control/SpectrumMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/FFTAnalyzer.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRateHz = 2'048'000.0;

SpectrumLevels levelsOf(const FFTAnalyzer& analyzer, std::span<const IQSample> block) {
    return spectrumLevels(*analyzer.averagedSpectrum(block),
                          {.fullScaleBinPower = analyzer.fullScaleBinPower(),
                           .averagedSegments = block.size() / analyzer.size()});
}

}  // namespace

TEST(SpectrumMathTest, BinCentredTonesReadTheirLevelInDBFS) {
    // A complex tone of amplitude A is 20 log10(A) dBFS; 1 is the converter's full scale.
    struct Case {
        std::size_t fftSize;
        std::size_t blockLength;  // several segments average to the same tone level
        int binsFromDC;
        float amplitude;
        float expectedDB;
    };
    const Case cases[] = {
        {1'024, 1'024, 7, 1.0f, 0.0f},
        {1'024, 8'192, -20, 0.1f, -20.0f},  // -40 kHz, where the tuner offset puts a station
        {1'024, 2'048, 0, 0.01f, -40.0f},
        {256, 256, 3, 1.0f, 0.0f},
        {256, 1'024, -50, 0.1f, -20.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.fftSize << " points, " << c.amplitude << " at bin " << c.binsFromDC);
        const FFTAnalyzer analyzer(c.fftSize);
        const double toneHz = c.binsFromDC * kRateHz / static_cast<double>(c.fftSize);
        const SpectrumLevels levels =
            levelsOf(analyzer, makeTone(toneHz, kRateHz, c.blockLength, c.amplitude));
        const auto bin = static_cast<std::size_t>(static_cast<int>(c.fftSize / 2) + c.binsFromDC);
        EXPECT_NEAR(levels.dB[bin], c.expectedDB, 0.1f);
        EXPECT_NEAR(levels.peakDB, c.expectedDB, 0.1f);
    }
}

TEST(SpectrumMathTest, NoiseFloorIsTheMeanNoisePerBinAndAnEmptyChannelReadsNearIt) {
    // White noise of power 2 sigma^2 puts 2 sigma^2 * sum(w^2) / (sum w)^2 into each bin.
    const FFTAnalyzer analyzer(1'024);
    double sumW = 0.0, sumW2 = 0.0;
    for (float w : analyzer.windowValues()) {
        sumW += w;
        sumW2 += static_cast<double>(w) * w;
    }
    constexpr float kSigma = 0.01f;
    const double expectedDB = 10.0 * std::log10(2.0 * kSigma * kSigma * sumW2 / (sumW * sumW));
    struct Case {
        std::size_t blockLength;
        double floorToleranceDB;  // one spectrum's 10th percentile wanders more than eight's
    };
    for (const Case& c : {Case{1'024, 1.0}, Case{8'192, 0.5}}) {
        SCOPED_TRACE(c.blockLength);
        const SpectrumLevels levels =
            levelsOf(analyzer, makeNoise(/*seed=*/3, c.blockLength, kSigma));
        EXPECT_NEAR(levels.floorDB, expectedDB, c.floorToleranceDB);
        if (c.blockLength == 8'192) {
            // The strongest of 251 averaged bins in a wide FM channel: a few dB above the mean.
            const float channelDB = strongestInChannelDB(levels.dB, 125'000.0, kRateHz);
            EXPECT_GT(channelDB, levels.floorDB);
            EXPECT_LT(channelDB, levels.floorDB + 5.0f);
        }
    }
}

TEST(SpectrumMathTest, NoiseCorrectionFollowsTheGammaTenthPercentile) {
    // 10th percentiles of chi-square with 2k degrees of freedom, from the published tables:
    // 0.2107 (2), 1.0636 (4), 9.3122 (16). The mean is 2k.
    struct Case {
        std::size_t segments;
        double expectedDB;
    };
    const Case cases[] = {{1, 10.0 * std::log10(2.0 / 0.2107)},
                          {2, 10.0 * std::log10(4.0 / 1.0636)},
                          {8, 10.0 * std::log10(16.0 / 9.3122)},
                          {0, 10.0 * std::log10(2.0 / 0.2107)}};  // treated as one
    for (const Case& c : cases) {
        SCOPED_TRACE(c.segments);
        EXPECT_NEAR(noiseTenthPercentileToMeanDB(c.segments), c.expectedDB, 0.01);
    }
}

TEST(SpectrumMathTest, NormSpansTheFixedRangeOrTheBlocksOwn) {
    // Powers relative to full scale 1: -120, -100, -50, 0, +3 dBFS and an empty bin.
    const std::vector<float> power = {1e-12f, 1e-10f, 1e-5f, 1.0f, 2.0f, 0.0f};
    const SpectrumLevels fixed = spectrumLevels(power, {.normRange = DBRange{-100.0f, 0.0f}});
    EXPECT_FLOAT_EQ(fixed.dB[5], kMinLevelDBFS);
    EXPECT_FLOAT_EQ(fixed.norm[0], 0.0f);
    EXPECT_FLOAT_EQ(fixed.norm[1], 0.0f);
    EXPECT_NEAR(fixed.norm[2], 0.5f, 1e-6f);
    EXPECT_FLOAT_EQ(fixed.norm[3], 1.0f);
    EXPECT_FLOAT_EQ(fixed.norm[4], 1.0f) << "clipped at the top";
    EXPECT_NEAR(fixed.peakDB, 3.0103f, 1e-4f);

    const SpectrumLevels own = spectrumLevels(power, {});
    EXPECT_FLOAT_EQ(own.norm[5], 0.0f) << "the block's own minimum";
    EXPECT_FLOAT_EQ(own.norm[4], 1.0f) << "and maximum";
    EXPECT_NEAR(own.norm[3], 150.0f / 153.0103f, 1e-5f);

    const SpectrumLevels empty = spectrumLevels({}, {});
    EXPECT_TRUE(empty.dB.empty());
    EXPECT_FLOAT_EQ(empty.peakDB, kMinLevelDBFS);
}

TEST(SpectrumMathTest, DownsampleRunsAndChannelLevel) {
    std::vector<float> ramp(1'024);
    for (std::size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<float>(k);
    const std::vector<float> bins = downsample(ramp, 96);
    ASSERT_EQ(bins.size(), 96u);
    EXPECT_FLOAT_EQ(bins[0], 4.5f);  // mean of 0..9 (run of 10: floor(10.67))
    EXPECT_FLOAT_EQ(bins[95], (1013.0f + 1023.0f) / 2.0f) << "the last run ends at the last value";
    const std::vector<float> short50(50, 1.0f);
    EXPECT_EQ(downsample(short50, 96), short50);

    std::vector<float> centred(1'024, -90.0f);
    centred[512 + 3] = -20.0f;   // 6 kHz off centre
    centred[512 + 60] = -10.0f;  // a neighbour 120 kHz away
    EXPECT_FLOAT_EQ(strongestInChannelDB(centred, 7'500.0, kRateHz), -20.0f);
    EXPECT_FLOAT_EQ(strongestInChannelDB(centred, 5'000.0, kRateHz), -90.0f);
    EXPECT_FLOAT_EQ(strongestInChannelDB(centred, 125'000.0, kRateHz), -10.0f);
    EXPECT_FLOAT_EQ(strongestInChannelDB({}, 125'000.0, kRateHz), kMinLevelDBFS);
}
