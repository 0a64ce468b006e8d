#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include "dsp/FFTAnalyzer.h"
#include "support/TestSignals.h"

namespace {

constexpr double kRateHz = 2'048'000.0;
constexpr std::size_t kN = 1024;
constexpr double kBinHz = kRateHz / kN;  // 2 kHz

}  // namespace

TEST(FFTAnalyzerTest, WindowIsNormalisedPeriodicHann) {
    for (const std::size_t n : {std::size_t{256}, kN}) {
        SCOPED_TRACE(n);
        const FFTAnalyzer analyzer(n);
        const auto w = analyzer.windowValues();
        ASSERT_EQ(w.size(), n);
        EXPECT_EQ(analyzer.log2Size(), static_cast<unsigned>(std::log2(static_cast<double>(n))));
        // Periodic: w[0] = 0, peak 2 * 0.8165 at n/2, symmetric about n/2.
        EXPECT_EQ(w[0], 0.0f);
        EXPECT_NEAR(w[n / 2], 1.633f, 1e-6f);
        double sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const double expected = 0.8165 * (1.0 - std::cos(2.0 * std::numbers::pi * k / n));
            EXPECT_NEAR(w[k], expected, 1e-6) << k;
            if (k > 0) {
                EXPECT_EQ(w[k], w[n - k]) << k;
            }
            sum += w[k];
        }
        EXPECT_NEAR(sum, 0.8165 * n, 1e-3 * n);
    }
}

TEST(FFTAnalyzerTest, ToneLandsInItsCentredBinWithWindowGain) {
    // Bin-centred complex tones of amplitude A: the peak is (A * sum w)^2 = (A * 0.8165 n)^2,
    // the Hann neighbours a quarter of it each, every other bin (numerically) empty.
    struct Case {
        double toneHz;
        float amplitude;
        std::size_t index;
    };
    const Case cases[] = {
        {0.0, 1.0f, kN / 2},                   // DC in the centre
        {kRateHz / 4, 0.5f, 3 * kN / 4},       // +fs/4
        {-kRateHz / 4, 0.5f, kN / 4},          // -fs/4
        {5 * kBinHz, 0.25f, kN / 2 + 5},       // +10 kHz
        {-40'000.0, 1.0f, kN / 2 - 20},        // the tuner offset, below centre
        {-kRateHz / 2, 1.0f, 0},               // -fs/2 is index 0
        {kRateHz / 2 - kBinHz, 1.0f, kN - 1},  // last index
    };
    const FFTAnalyzer analyzer(kN);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        const auto spectrum =
            analyzer.magnitudeSpectrum(makeTone(c.toneHz, kRateHz, kN, c.amplitude));
        ASSERT_TRUE(spectrum.has_value());
        ASSERT_EQ(spectrum->size(), kN);
        const double peak = std::pow(c.amplitude * 0.8165 * kN, 2.0);
        for (std::size_t j = 0; j < kN; ++j) {
            const std::size_t distance = std::min((j + kN - c.index) % kN, (c.index + kN - j) % kN);
            const double expected = distance == 0 ? peak : distance == 1 ? peak / 4 : 0.0;
            // float FFT of 1024 points: relative error well under 1e-5 of the peak.
            EXPECT_NEAR((*spectrum)[j], expected, 2e-6 * peak) << j;
        }
    }
}

TEST(FFTAnalyzerTest, RealInputIsSymmetricAboutCentre) {
    const std::vector<float> audio = makeRealTone(3'000.0, 51'200.0, 256, 0.7f);
    std::vector<IQSample> packed(audio.size());
    for (std::size_t k = 0; k < audio.size(); ++k) packed[k] = {audio[k], 0.0f};
    const auto spectrum = FFTAnalyzer(256).magnitudeSpectrum(packed);
    ASSERT_TRUE(spectrum.has_value());
    const float peak = *std::max_element(spectrum->begin(), spectrum->end());
    for (std::size_t k = 1; k < 128; ++k) {
        EXPECT_NEAR((*spectrum)[128 + k], (*spectrum)[128 - k], 1e-5f * peak) << k;
    }
}

TEST(FFTAnalyzerTest, UsesOnlyTheFirstNSamplesAndRefusesShortBlocks) {
    const FFTAnalyzer analyzer(kN);
    std::vector<IQSample> samples = makeNoise(/*seed=*/7, kN + 300);
    const auto exact = analyzer.magnitudeSpectrum(std::span(samples).first(kN));
    const auto longer = analyzer.magnitudeSpectrum(samples);
    ASSERT_TRUE(exact && longer);
    EXPECT_EQ(*exact, *longer);

    EXPECT_FALSE(analyzer.magnitudeSpectrum(std::span(samples).first(kN - 1)).has_value());
    EXPECT_FALSE(analyzer.magnitudeSpectrum({}).has_value());

    // Allocation-free form: same values; a short block leaves the output untouched.
    FFTAnalyzer::Scratch scratch(kN);
    std::vector<float> out(kN, -1.0f);
    EXPECT_FALSE(analyzer.magnitudeSpectrum(std::span(samples).first(kN - 1), out, scratch));
    EXPECT_EQ(out, std::vector<float>(kN, -1.0f));
    ASSERT_TRUE(analyzer.magnitudeSpectrum(samples, out, scratch));
    EXPECT_EQ(out, *exact);
}

TEST(FFTAnalyzerTest, AveragedSpectrumIsTheMeanOfWholeSegments) {
    const FFTAnalyzer analyzer(kN);
    // Three segments of different noise and 300 trailing samples that must not count.
    const std::vector<IQSample> samples = makeNoise(/*seed=*/9, 3 * kN + 300);
    const auto averaged = analyzer.averagedSpectrum(samples);
    ASSERT_TRUE(averaged.has_value());
    ASSERT_EQ(averaged->size(), kN);
    std::vector<double> mean(kN, 0.0);
    for (std::size_t s = 0; s < 3; ++s) {
        const auto one = *analyzer.magnitudeSpectrum(std::span(samples).subspan(s * kN, kN));
        for (std::size_t j = 0; j < kN; ++j) mean[j] += one[j] / 3.0;
    }
    for (std::size_t j = 0; j < kN; ++j) EXPECT_NEAR((*averaged)[j], mean[j], 1e-5 * mean[j]) << j;

    // One segment: the plain spectrum. Short: nothing.
    EXPECT_EQ(*analyzer.averagedSpectrum(std::span(samples).first(kN)),
              *analyzer.magnitudeSpectrum(samples));
    EXPECT_FALSE(analyzer.averagedSpectrum(std::span(samples).first(kN - 1)).has_value());
}

TEST(FFTAnalyzerTest, FullScaleBinPowerIsAFullScaleTonesBin) {
    for (const std::size_t n : {std::size_t{256}, kN}) {
        SCOPED_TRACE(n);
        const FFTAnalyzer analyzer(n);
        // A bin-centred tone of amplitude 1, 7 bins above DC.
        const double toneHz = 7.0 * kRateHz / static_cast<double>(n);
        const auto spectrum = *analyzer.magnitudeSpectrum(makeTone(toneHz, kRateHz, n, 1.0f));
        EXPECT_NEAR(spectrum[n / 2 + 7] / analyzer.fullScaleBinPower(), 1.0, 1e-5);
        EXPECT_NEAR(analyzer.fullScaleBinPower(), std::pow(0.8165 * static_cast<double>(n), 2.0),
                    1e-4 * analyzer.fullScaleBinPower());
    }
}

TEST(FFTAnalyzerTest, ParallelAnalyzersGiveIdenticalResults) {
    // Each thread builds and destroys its own analysers (plan creation is serialised inside)
    // and also shares one analyser with the others; all must agree bit for bit.
    const std::vector<IQSample> samples = makeNoise(/*seed=*/42, kN);
    const FFTAnalyzer shared(kN);
    const std::vector<float> reference = *shared.magnitudeSpectrum(samples);
    constexpr int kThreads = 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            FFTAnalyzer::Scratch scratch(kN);
            std::vector<float> out(kN);
            for (int round = 0; round < 20; ++round) {
                const FFTAnalyzer own(kN);
                const FFTAnalyzer other(256);  // a second size planned concurrently
                if (*own.magnitudeSpectrum(samples) != reference) ++mismatches[t];
                if (!shared.magnitudeSpectrum(samples, out, scratch) || out != reference) {
                    ++mismatches[t];
                }
                if (!other.magnitudeSpectrum(samples)) ++mismatches[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << t;
}
