#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "rds/RDSGroupDecoder.h"
#include "sim/RDSEncoder.h"
#include "sim/SimRandom.h"

namespace {

// Parity-check matrix H and the syndromes of the five offset words, IEC 62106 Annex B, copied
// from the project's verified table (shared/data/rds_checkword.txt). Row r applies to block
// bit r in transmission order (row 0 = first bit sent). Checking the encoder's blocks with H
// is independent of how the encoder computes its checkwords (a shift-register division).
constexpr std::array<std::uint16_t, 26> kParityCheckRows = {
    0x200, 0x100, 0x080, 0x040, 0x020, 0x010, 0x008, 0x004, 0x002, 0x001, 0x2DC, 0x16E, 0x0B7,
    0x287, 0x39F, 0x313, 0x355, 0x376, 0x1BB, 0x201, 0x3DC, 0x1EE, 0x0F7, 0x2A7, 0x38F, 0x31B};

std::uint16_t syndrome(std::uint32_t block) {
    std::uint16_t s = 0;
    for (int r = 0; r < 26; ++r) {
        if ((block >> (25 - r)) & 1U) s ^= kParityCheckRows[r];
    }
    return s;
}

TEST(RDSEncoderTest, BlocksHaveTheSyndromeOfTheirOffsetWord) {
    using Offset = RDSEncoder::Offset;
    const std::pair<Offset, std::uint16_t> offsets[] = {{Offset::a, 0x3D8},
                                                        {Offset::b, 0x3D4},
                                                        {Offset::c, 0x25C},
                                                        {Offset::cPrime, 0x3CC},
                                                        {Offset::d, 0x258}};
    SimRandom random(3);
    for (const auto& [offset, expected] : offsets) {
        SCOPED_TRACE(expected);
        for (int i = 0; i < 2000; ++i) {
            const auto info = static_cast<std::uint16_t>(i < 16 ? 1U << i : random.nextU32());
            const std::uint32_t block = RDSEncoder::encodeBlock(info, offset);
            ASSERT_EQ(block >> 10, info);
            ASSERT_EQ(syndrome(block), expected) << "info " << info;
        }
    }
}

struct Decoded {
    std::string pi, ps, rt, pty;
    bool tp = false, ta = false;
    int groups = 0;
};

void wire(RDSGroupDecoder& decoder, Decoded& out) {
    decoder.onPICodeUpdated = [&out](const std::string& s) {
        out.pi = s;
        ++out.groups;
    };
    decoder.onPSNameUpdated = [&out](const std::string& s) { out.ps = s; };
    decoder.onRadioTextUpdated = [&out](const std::string& s) { out.rt = s; };
    decoder.onPTYUpdated = [&out](const std::string& s) { out.pty = s; };
    decoder.onTPUpdated = [&out](bool b) { out.tp = b; };
    decoder.onTAUpdated = [&out](bool b) { out.ta = b; };
}

TEST(RDSEncoderTest, BitStreamCarriesTheStationData) {
    RDSEncoder encoder({.pi = 0xC201,
                        .pty = 1,
                        .tp = true,
                        .ta = false,
                        .ps = "Radio 1 ",
                        .radioText = "News at nine"});
    RDSGroupDecoder decoder;
    Decoded d;
    wire(decoder, d);
    // "News at nine" + CR is 4 segments, sent in turn with the 4 PS segments: 8 groups.
    for (int i = 0; i < 8 * 104; ++i) decoder.processBit(encoder.nextDataBit());
    EXPECT_EQ(d.groups, 8);
    EXPECT_EQ(d.pi, "C201");
    EXPECT_EQ(d.ps, "Radio 1");
    EXPECT_EQ(d.rt, "News at nine");
    EXPECT_EQ(d.pty, "Vijesti");
    EXPECT_TRUE(d.tp);
    EXPECT_FALSE(d.ta);

    // A new, shorter text flips the A/B flag, so the receiver drops the old one entirely.
    encoder.setRadioText("Jazz");
    encoder.setTA(true);
    for (int i = 0; i < 8 * 104; ++i) decoder.processBit(encoder.nextDataBit());
    EXPECT_EQ(d.rt, "Jazz");
    EXPECT_TRUE(d.ta);
}

TEST(RDSEncoderTest, AddsASubcarrierAtTheConfiguredPeakAndNothingWithoutIt) {
    RDSEncoder encoder({.pi = 0x1234, .ps = "PEAK", .radioText = "x", .amplitude = 0.04f});
    const double fs = 192'000.0;  // any multiplex rate
    const double step = 2.0 * std::numbers::pi * 19'000.0 / fs;
    std::vector<float> mpx(192'000, 0.25f);
    encoder.render(mpx, {.phaseRad = 0.0, .radPerSample = step});
    float peak = 0.0f;
    double sum57Cos = 0.0, sum57Sin = 0.0, energy = 0.0;
    for (std::size_t n = 0; n < mpx.size(); ++n) {
        const float rds = mpx[n] - 0.25f;  // the encoder adds to what is there
        peak = std::max(peak, std::fabs(rds));
        energy += rds * rds;
        sum57Cos += rds * std::cos(3.0 * step * static_cast<double>(n));
        sum57Sin += rds * std::sin(3.0 * step * static_cast<double>(n));
    }
    // The peak is the worst case of the shaped symbols, which random data reaches only
    // approximately: between 80 % and 100 % of the configured amplitude.
    EXPECT_LE(peak, 0.04f * 1.001f);
    EXPECT_GE(peak, 0.04f * 0.8f);
    EXPECT_GT(energy, 0.0);
    // DSB-SC with a biphase baseband: no carrier component left at 57 kHz.
    EXPECT_LT(std::hypot(sum57Cos, sum57Sin) / static_cast<double>(mpx.size()), 1e-4);
}

}  // namespace
