#include <gtest/gtest.h>

#include <numbers>
#include <vector>

#include "AACTestReader.h"
#include "sim/DABPlusSuperframer.h"
#include "sim/DABPlusToneSource.h"

namespace {
std::vector<std::uint8_t> packBits(std::span<const std::uint8_t> bits) {
    std::vector<std::uint8_t> bytes(bits.size() / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        bytes[i / 8] |= static_cast<std::uint8_t>(bits[i] << (7 - i % 8));
    return bytes;
}
}  // namespace

TEST(DABPlusToneSourceTest, LogicalFramesCarryTheSuperframesInOrderAndLoop) {
    DABPlusToneSource source({.bitrateKbps = 48, .programme = {.leftToneHz = 900.0}});
    ASSERT_EQ(source.loopSuperframes(), 1);  // 900 Hz: 108 whole cycles per 120 ms
    std::vector<std::uint8_t> bits(24 * 48);
    for (int round = 0; round < 3; ++round) {
        std::vector<std::uint8_t> got;
        for (int f = 0; f < 5; ++f) {
            source.fillLogicalFrame(bits);
            const std::vector<std::uint8_t> bytes = packBits(bits);
            got.insert(got.end(), bytes.begin(), bytes.end());
        }
        const std::span<const std::uint8_t> want = source.superframe(0);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin(), got.end()))
            << "round " << round;
    }
}

TEST(DABPlusToneSourceTest, LoopCoversWholeToneCycles) {
    struct Case {
        double hz;
        int superframes;
    };
    // 510 Hz completes 61.2 cycles per super-frame, whole ones after five; 100π Hz never does.
    const Case cases[] = {
        {500.0, 1}, {510.0, 5}, {100.0 * std::numbers::pi, DABPlusToneSource::kMaxLoopSuperframes}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hz);
        const DABPlusToneSource source({.bitrateKbps = 32, .programme = {.leftToneHz = c.hz}});
        EXPECT_EQ(source.loopSuperframes(), c.superframes);
    }
}

TEST(DABPlusToneSourceTest, SuperframesHoldValidAccessUnitsOfTheProgramme) {
    struct Case {
        int bitrateKbps;
        DABPlusToneProgramme programme;
    };
    const Case cases[] = {
        {96, {.isStereo = true, .leftToneHz = 500.0, .rightToneHz = 750.0}},
        {32, {.sampleRateHz = 32'000, .leftToneHz = 1'200.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitrateKbps);
        const DABPlusToneSource source({.bitrateKbps = c.bitrateKbps, .programme = c.programme});
        const simtest::AACTestReader reader(c.programme.sampleRateHz);
        const std::span<const std::uint8_t> sf = source.superframe(0);
        EXPECT_EQ((sf[0] << 8 | sf[1]), dabPlusFireCode(sf.subspan(2, 9)));
        const auto& aus = source.accessUnits(0);
        EXPECT_EQ(aus.size(), c.programme.sampleRateHz == 48'000 ? 6u : 4u);
        for (const auto& au : aus) {
            const simtest::AACFrameRead r = reader.read(au);
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.channels.size(), c.programme.isStereo ? 2u : 1u);
            // Past the warm-up super-frame every AU carries the tone.
            for (const auto& ch : r.channels) EXPECT_GT(ch.maxBands, 0);
        }
    }
}
