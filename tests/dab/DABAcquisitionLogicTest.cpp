#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "dab/DABAcquisition.h"
#include "dab/DABBandScanner.h"
#include "dab/DABEnsembleTables.h"

namespace {

DABEnsembleInfo ensembleWith(std::initializer_list<int> subchannelIds) {
    DABEnsembleInfo e;
    std::uint32_t sid = 0x2001;
    for (const int id : subchannelIds) {
        e.subchannels[id] = DABSubchannel{.id = id, .startCU = id * 10, .sizeCU = 48, .protection = 2};
        e.services.push_back({.id = sid, .name = "S" + std::to_string(id), .isAudio = true});
        e.serviceLinks[sid] = {.serviceId = sid, .primarySubchannelId = id, .isAudio = true};
        ++sid;
    }
    return e;
}

TEST(DABSubchannelChoice, SelectedServiceWinsEvenWhenExcluded) {
    const DABEnsembleInfo e = ensembleWith({3, 1, 7});
    std::set<int> excluded{7};
    const auto chosen = DABAcquirer::chooseSubchannel(e, 0x2003u, excluded);  // service on 7
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->id, 7);
    EXPECT_EQ(excluded, std::set<int>{7});
}

TEST(DABSubchannelChoice, LowestNotExcludedThenStartsOver) {
    const DABEnsembleInfo e = ensembleWith({3, 1, 7});
    std::set<int> excluded{1};
    EXPECT_EQ(DABAcquirer::chooseSubchannel(e, std::nullopt, excluded)->id, 3);
    // A selection whose link names a missing sub-channel falls back to the lowest.
    EXPECT_EQ(DABAcquirer::chooseSubchannel(e, 0xBEEFu, excluded)->id, 3);
    excluded = {1, 3, 7};
    EXPECT_EQ(DABAcquirer::chooseSubchannel(e, std::nullopt, excluded)->id, 1);
    EXPECT_TRUE(excluded.empty());
    std::set<int> none;
    EXPECT_FALSE(DABAcquirer::chooseSubchannel(DABEnsembleInfo{}, std::nullopt, none));
}

TEST(DABSubchannelChoice, DABPlusAudioBeforeDataAndClassicAudio) {
    DABEnsembleInfo e = ensembleWith({1, 2, 5});
    // Sub-channel 1 carries a data service, 2 classic audio (MPEG), 5 DAB+ audio.
    e.serviceLinks[0x2001].isAudio = false;
    e.serviceLinks[0x2002].audioComponentType = 0;
    e.serviceLinks[0x2003].audioComponentType = DABAcquirer::kDABPlusAudioType;
    std::set<int> excluded;
    EXPECT_EQ(DABAcquirer::chooseSubchannel(e, std::nullopt, excluded)->id, 5);
    // Excluded after it stayed silent: the others are still tried before starting over.
    excluded = {5};
    EXPECT_EQ(DABAcquirer::chooseSubchannel(e, std::nullopt, excluded)->id, 1);
    excluded = {1, 2, 5};
    EXPECT_EQ(DABAcquirer::chooseSubchannel(e, std::nullopt, excluded)->id, 5);
    EXPECT_TRUE(excluded.empty());
    // A short-form (UEP) sub-channel is never taken for DAB+.
    e.subchannels[5].isShort = true;
    EXPECT_FALSE(DABAcquirer::isPlayable(e, e.subchannels[5]));
}

TEST(DABEnsembleAccumulation, FramesFillInWhatOthersLacked) {
    DABEnsembleInfo acc;
    DABEnsembleInfo first;
    first.label = "Ensemble 2C01";
    first.ensembleId = 0x2C01;
    first.services = {{.id = 0x2002, .name = "SId 2002", .isAudio = true}};
    first.subchannels[2] = {.id = 2, .sizeCU = 72, .protection = 2};
    DABAcquirer::accumulate(acc, first);

    DABEnsembleInfo second;
    second.label = "Hrvatski radio";
    second.services = {{.id = 0x2002, .name = "Drugi", .isAudio = true},
                       {.id = 0x2001, .name = "SId 2001", .isAudio = true}};
    second.subchannels[1] = {.id = 1, .sizeCU = 48, .protection = 2};
    second.serviceLinks[0x2001] = {.serviceId = 0x2001, .primarySubchannelId = 1, .isAudio = true};
    DABAcquirer::accumulate(acc, second);

    // A later frame that only carries placeholders must not undo names already learnt.
    DABEnsembleInfo third;
    third.label = "Ensemble 2C01";
    third.services = {{.id = 0x2002, .name = "SId 2002", .isAudio = true}};
    DABAcquirer::accumulate(acc, third);

    EXPECT_EQ(acc.label, "Hrvatski radio");
    EXPECT_EQ(acc.ensembleId, 0x2C01);
    ASSERT_EQ(acc.services.size(), 2u);
    EXPECT_EQ(acc.services[0].id, 0x2001u);  // ascending SId
    EXPECT_EQ(acc.services[1].name, "Drugi");
    EXPECT_EQ(acc.subchannels.size(), 2u);
    EXPECT_EQ(acc.serviceLinks.size(), 1u);
}

TEST(DABFrequencyCorrection, PhaseContinuesAcrossBlocksOfAnySize) {
    std::vector<IQSample> whole(10'000);
    std::mt19937 rng(5);
    std::normal_distribution<float> n(0.0f, 0.3f);
    for (IQSample& s : whole) s = {n(rng), n(rng)};
    std::vector<IQSample> split = whole;

    double a = 0.0;
    DABAcquirer::correctFrequency(whole, 1234.5, a);
    double b = 0.0;
    std::size_t at = 0;
    for (const std::size_t len : {1u, 4095u, 4097u, 1807u}) {
        DABAcquirer::correctFrequency(std::span<IQSample>(split).subspan(at, len), 1234.5, b);
        at += len;
    }
    ASSERT_EQ(at, split.size());
    EXPECT_NEAR(a, b, 1e-9);
    for (std::size_t k = 0; k < whole.size(); ++k) {
        ASSERT_NEAR(whole[k].i, split[k].i, 1e-4f) << k;
        ASSERT_NEAR(whole[k].q, split[k].q, 1e-4f) << k;
    }
}

TEST(DABFrequencyCorrection, RemovesAToneOffset) {
    // A carrier at +300 Hz comes out at DC; within half a hertz nothing changes.
    std::vector<IQSample> tone(20'000);
    for (std::size_t k = 0; k < tone.size(); ++k) {
        const double p = 2.0 * std::numbers::pi * 300.0 * static_cast<double>(k) / 2'048'000.0;
        tone[k] = {static_cast<float>(std::cos(p)), static_cast<float>(std::sin(p))};
    }
    std::vector<IQSample> same = tone;
    double phase = 0.0;
    DABAcquirer::correctFrequency(tone, 300.0, phase);
    for (std::size_t k = 0; k < tone.size(); k += 997) {
        EXPECT_NEAR(tone[k].i, 1.0f, 1e-4f);
        EXPECT_NEAR(tone[k].q, 0.0f, 1e-4f);
    }
    double untouched = 0.0;
    DABAcquirer::correctFrequency(same, 0.5, untouched);
    EXPECT_EQ(same[12'345].q, static_cast<float>(std::sin(2.0 * std::numbers::pi * 300.0 * 12'345 / 2'048'000.0)));
    EXPECT_EQ(untouched, 0.0);
}

// Noise-like OFDM with a silent null symbol every frame, at a known signal-to-noise ratio.
std::vector<IQSample> framesWithNull(double snrDB, std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    const float noise = static_cast<float>(0.01 / std::sqrt(2.0));
    const float signal = static_cast<float>(0.01 * std::pow(10.0, snrDB / 20.0) / std::sqrt(2.0));
    std::vector<IQSample> out(count);
    for (std::size_t k = 0; k < count; ++k) {
        const bool inNull = (k % 196'608) < 2'656;
        out[k] = {noise * g(rng) + (inNull ? 0.0f : signal * g(rng)), noise * g(rng) + (inNull ? 0.0f : signal * g(rng))};
    }
    return out;
}

TEST(DABScanMeasure, SNRFollowsTheNullDepthAndIgnoresSteadySignals) {
    const DABChannel ch = DABChannel::bandIII()[30];
    const DABScanResult strong = DABBandScanner::measure(ch, framesWithNull(20.0, 200'000, 1));
    EXPECT_NEAR(strong.snrEstimate, 20.0f, 1.5f);
    EXPECT_TRUE(strong.hasSignal());
    const DABScanResult weak = DABBandScanner::measure(ch, framesWithNull(6.0, 200'000, 2));
    EXPECT_NEAR(weak.snrEstimate, 6.0f, 1.5f);
    // Noise alone, however loud, is no ensemble.
    const DABScanResult noise = DABBandScanner::measure(ch, framesWithNull(-60.0, 200'000, 3));
    EXPECT_FALSE(noise.hasSignal());
    const DABScanResult empty = DABBandScanner::measure(ch, {});
    EXPECT_EQ(empty.strengthDB, -120.0f);
    EXPECT_EQ(empty.snrEstimate, 0.0f);
}

TEST(DABScanMeasure, AutoConnectTakesHighestSNRFirstOfEquals) {
    const auto& band = DABChannel::bandIII();
    const std::vector<DABScanResult> sorted = {
        {.channel = band[30], .strengthDB = -10.0f, .snrEstimate = 12.0f},
        {.channel = band[2], .strengthDB = -12.0f, .snrEstimate = 12.0f},
        {.channel = band[5], .strengthDB = -20.0f, .snrEstimate = 3.0f},
    };
    ASSERT_NE(DABBandScanner::bestForAutoConnect(sorted), nullptr);
    EXPECT_EQ(DABBandScanner::bestForAutoConnect(sorted)->channel.label, "12C");
    EXPECT_EQ(DABBandScanner::bestForAutoConnect({sorted[2]}), nullptr);  // 3.0 dB is not above 3
}

}  // namespace
