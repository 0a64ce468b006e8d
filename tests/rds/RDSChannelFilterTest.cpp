#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "rds/RDSChannelFilter.h"
#include "sim/SimRandom.h"

namespace {

struct Levels {
    double rdsDB = 0.0;    // RDS output RMS against a full-amplitude carrier (0.5 at baseband)
    double pilotDB = 0.0;  // the same for the pilot output
};

// 0.15 s of a cosine of amplitude 1 at `toneHz`; the first 40 ms (filter settling) are skipped.
Levels measureTone(double rateHz, double toneHz) {
    std::vector<float> in(static_cast<std::size_t>(0.15 * rateHz));
    for (std::size_t n = 0; n < in.size(); ++n) {
        in[n] = static_cast<float>(
            std::cos(2.0 * std::numbers::pi * toneHz * static_cast<double>(n) / rateHz));
    }
    RDSChannelFilter filter(rateHz);
    std::vector<RDSChannelSample> out(filter.outputCount(in.size()));
    out.resize(filter.process(in, out));
    const auto skip = static_cast<std::size_t>(0.04 * filter.outputRateHz());
    double rds = 0.0, pilot = 0.0;
    int rdsCount = 0, pilotCount = 0;
    for (std::size_t k = skip; k < out.size(); ++k) {
        rds += std::norm(out[k].rds);
        ++rdsCount;
        if (out[k].hasPilot) {
            pilot += std::norm(out[k].pilot);
            ++pilotCount;
        }
    }
    auto toDB = [](double power, int count) {
        return 10.0 * std::log10(power / count / 0.25 + 1e-30);
    };
    return {.rdsDB = toDB(rds, rdsCount), .pilotDB = toDB(pilot, pilotCount)};
}

// The RDS band must pass flat, and what sits next to it in a stereo multiplex must not:
// the L-R upper sideband of 15 kHz treble at 53 kHz, the pilot, mono audio (which the
// mixing puts 42-72 kHz away, where stage 1 must stop it folding back).
TEST(RDSChannelFilterTest, PassesTheRDSBandAndStopsItsNeighbours) {
    struct Case {
        double toneHz;
        double minDB, maxDB;  // RDS output level
    };
    const Case cases[] = {
        {57'000.0, -0.1, 0.1},      // the carrier itself
        {58'000.0, -0.1, 0.1},      // 1 kHz: the biphase spectrum peaks here
        {55'000.0, -0.1, 0.1},      // 2 kHz, the lower side: the same response
        {59'375.0, -1.0, 0.1},      // 2375 Hz, where RDS ends
        {53'000.0, -200.0, -40.0},  // L-R sideband of 15 kHz treble, 4 kHz off
        {61'000.0, -200.0, -40.0},  // 4 kHz above
        {50'000.0, -200.0, -60.0},  // 7 kHz off
        {38'000.0, -200.0, -60.0},  // the L-R subcarrier's place
        {19'000.0, -200.0, -60.0},  // the pilot
        // Mono audio: it would fold onto the band if stage 1 let it through.
        {1'000.0, -200.0, -70.0},
        {7'000.0, -200.0, -70.0},
        {11'000.0, -200.0, -70.0},
        {15'000.0, -200.0, -70.0},
    };
    for (double rateHz : {256'000.0, 128'000.0, 2'048'000.0}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << rateHz << " Hz rate, tone " << c.toneHz);
            const double level = measureTone(rateHz, c.toneHz).rdsDB;
            EXPECT_GE(level, c.minDB);
            EXPECT_LE(level, c.maxDB);
        }
    }
}

TEST(RDSChannelFilterTest, PilotOutputKeepsOnlyThePilot) {
    struct Case {
        double toneHz;
        double minDB, maxDB;
    };
    const Case cases[] = {
        {19'000.0, -0.1, 0.1},
        {19'100.0, -0.1, 0.1},      // a pilot well off frequency still passes
        {15'000.0, -200.0, -60.0},  // mono treble
        {23'000.0, -200.0, -60.0},  // the lower L-R sideband's edge
        {57'000.0, -200.0, -60.0},  // RDS
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toneHz);
        const double level = measureTone(256'000.0, c.toneHz).pilotDB;
        EXPECT_GE(level, c.minDB);
        EXPECT_LE(level, c.maxDB);
    }
}

TEST(RDSChannelFilterTest, OutputDoesNotDependOnChunking) {
    std::vector<float> in(100'000);
    SimRandom random(3);
    for (float& v : in) v = random.gaussian();
    auto run = [&](auto nextChunk) {
        RDSChannelFilter filter(256'000.0);
        std::vector<RDSChannelSample> all;
        for (std::size_t pos = 0; pos < in.size();) {
            const std::size_t len = std::min(nextChunk(), in.size() - pos);
            std::vector<RDSChannelSample> out(filter.outputCount(len));
            EXPECT_EQ(filter.process(std::span<const float>(in).subspan(pos, len), out),
                      out.size());
            all.insert(all.end(), out.begin(), out.end());
            pos += len;
        }
        return all;
    };
    const auto whole = run([&] { return in.size(); });
    SimRandom sizes(4);
    const auto ragged = run([&] { return static_cast<std::size_t>(sizes.uniform() * 9'000.0f); });
    const auto ones = run([] { return std::size_t{1}; });
    // One output per 8 inputs at 256 kHz, a pilot value on every 16th.
    ASSERT_EQ(whole.size(), in.size() / 8);
    ASSERT_EQ(ragged.size(), whole.size());
    ASSERT_EQ(ones.size(), whole.size());
    for (std::size_t k = 0; k < whole.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(whole[k].hasPilot, k % 16 == 15);
        EXPECT_EQ(ragged[k].rds, whole[k].rds);
        EXPECT_EQ(ones[k].rds, whole[k].rds);
        EXPECT_EQ(ones[k].pilot, whole[k].pilot);
        if (ragged[k].rds != whole[k].rds) break;  // one report is enough
    }
}

}  // namespace
