// Error correction through the whole RDS chain: a noisy multiplex through one demodulator into
// a decoder that corrects bursts and one that does not. Valid groups are those the station
// really sent, so a miscorrection counts against the decoder that made it.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "RDSTestSignals.h"

namespace {

using Blocks = std::tuple<std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t>;

const RDSEncoderConfig kStation = {.pi = 0xC201,
                                   .pty = 10,
                                   .tp = true,
                                   .ps = "ČAKOVEC",
                                   .radioText = "Vijesti u podne: Međimurje",
                                   .alternativeFrequenciesKHz = {89'700, 94'300},
                                   .extendedCountryCode = 0xE3,
                                   .ptyName = "Domaće"};

// Every group the station sends in its cycle (no clock time is configured, so it repeats).
std::set<Blocks> sentGroups() {
    RDSEncoder encoder(kStation);
    std::set<Blocks> groups;
    for (int k = 0; k < 2'000; ++k) {
        const RDSEncoder::Group g = encoder.nextGroup();
        groups.emplace(g.info[0], g.info[1], g.info[2], g.info[3]);
    }
    return groups;
}

struct Counts {
    int corrected = 0;    // valid groups from the correcting decoder
    int uncorrected = 0;  // from the one without correction
    int wrong = 0;        // groups the correcting decoder reported that were never sent
};

Counts decode(float noiseRMS, double seconds, std::uint64_t seed) {
    static const std::set<Blocks> sent = sentGroups();
    RDSTestMultiplex mpx(kStation, {.noiseRMS = noiseRMS, .seed = seed});
    RDSDemodulator demodulator(kRDSTestRateHz);
    RDSGroupDecoder correcting;
    RDSGroupDecoder plain({.errorCorrection = false});
    Counts counts;
    const auto count = [&](int& valid, bool countWrong) {
        return [&valid, &counts, countWrong](const RDSGroupReport& r, const RDSProgrammeInfo&) {
            const bool whole = std::all_of(r.correctedBits.begin(), r.correctedBits.end(), [](int b) { return b >= 0; });
            if (!whole) return;
            if (sent.count({r.blocks[0], r.blocks[1], r.blocks[2], r.blocks[3]}))
                ++valid;
            else if (countWrong)
                ++counts.wrong;
        };
    };
    correcting.onGroup = count(counts.corrected, true);
    plain.onGroup = count(counts.uncorrected, false);
    demodulator.onDataBit = [&](int bit) {
        correcting.processBit(bit);
        plain.processBit(bit);
    };
    std::vector<float> block(8192);
    for (double t = 0.0; t < seconds; t += block.size() / kRDSTestRateHz) {
        mpx.fill(block);
        demodulator.process(block);
    }
    return counts;
}

// At a noise level where the decoder without correction keeps under half of the groups sent
// (11.4/s), the correcting one keeps at least twice as many valid groups.
TEST(RDSErrorCorrectionE2ETest, KeepsTwiceTheGroupsWhereTheUncorrectedDecoderLosesHalf) {
    constexpr double kSeconds = 40.0;
    const double sentCount = kSeconds * 1187.5 / 104.0;
    const Counts c = decode(0.33f, kSeconds, 21);
    RecordProperty("corrected", c.corrected);
    RecordProperty("uncorrected", c.uncorrected);
    EXPECT_LT(c.uncorrected, 0.5 * sentCount);
    EXPECT_GE(c.corrected, 2 * c.uncorrected) << c.corrected << " vs " << c.uncorrected;
    EXPECT_LT(c.wrong, c.corrected / 25) << "miscorrected groups";
}

// Noise alone, with a pilot and programme but no RDS, for ten minutes: block sync may lock on
// chance patterns now and then, but no group gets a confirmed PI.
TEST(RDSErrorCorrectionE2ETest, NoiseAloneGivesNoGroup) {
    RDSTestMultiplex mpx({.pi = 0x1234, .amplitude = 0.0f}, {.noiseRMS = 0.3f, .seed = 5});
    RDSDemodulator demodulator(kRDSTestRateHz);
    RDSGroupDecoder decoder;
    int groups = 0;
    decoder.onGroup = [&](const RDSGroupReport&, const RDSProgrammeInfo&) { ++groups; };
    demodulator.onDataBit = [&](int bit) { decoder.processBit(bit); };
    std::vector<float> block(8192);
    for (double t = 0.0; t < 600.0; t += block.size() / kRDSTestRateHz) {
        mpx.fill(block);
        demodulator.process(block);
    }
    EXPECT_EQ(groups, 0);
    EXPECT_EQ(decoder.programme().pi, std::nullopt);
}

}  // namespace
