#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>
#include <vector>

#include "AACTestReader.h"
#include "sim/DABPlusSuperframer.h"
#include "sim/DABPlusToneSource.h"
#include "sim/DABTxXPAD.h"

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

namespace {
DABTxPADCarouselConfig smallPAD() {
    DABTxPADCarouselConfig c;
    c.windowSuperframes = 2;
    for (int w = 0; w < 2; ++w) {
        std::vector<std::uint8_t> body(300, static_cast<std::uint8_t>(w));
        c.windows.push_back({.label = {.text = w ? "Drugi" : "Prvi"},
                             .slide = MOTTxObject{.transportId = 1, .contentName = "a.png", .body = body}});
    }
    return c;
}
}  // namespace

// Each AU opens with a data stream element holding the carousel's PAD for it; the AAC part after
// it is the same in every super-frame (the tone loops in one) and still decodes.
TEST(DABPlusToneSourceTest, PADGoesFirstInEachAccessUnitAheadOfUnchangedAudio) {
    const DABPlusToneProgramme programme{.isStereo = true, .leftToneHz = 500.0, .rightToneHz = 750.0};
    const DABTxPADCarouselConfig pad = smallPAD();
    const DABPlusToneSource source({.bitrateKbps = 96, .programme = programme, .pad = pad});
    ASSERT_EQ(source.loopSuperframes(), 4) << "two windows of two super-frames";
    const auto pads = dabTxPADCarousel(pad, 6);
    const DABPlusSuperframer framer({.bitrateKbps = 96, .sampleRateHz = 48'000, .isStereo = true});
    std::size_t largest = 0;
    for (const auto& p : pads) largest = std::max(largest, dabTxDataStreamElementBytes(p.size()));
    EXPECT_EQ(source.padReserveBytes(), largest) << "room for the largest PAD, no more";
    EXPECT_LE(largest, 2 + pad.maxXPADBytes + 2);
    const simtest::AACTestReader reader(48'000);
    std::size_t index = 0;
    for (int sf = 0; sf < source.loopSuperframes(); ++sf) {
        const auto& aus = source.accessUnits(sf);
        for (std::size_t a = 0; a < aus.size(); ++a, ++index) {
            SCOPED_TRACE(index);
            const auto& au = aus[a];
            ASSERT_LE(au.size(), framer.accessUnitCapacity());
            ASSERT_EQ(au[0] >> 5, 4) << "data stream element";
            const std::size_t count = au[1];
            ASSERT_EQ(std::vector<std::uint8_t>(au.begin() + 2, au.begin() + 2 + static_cast<std::ptrdiff_t>(count)), pads[index]);
            const std::vector<std::uint8_t> aac(au.begin() + 2 + static_cast<std::ptrdiff_t>(count), au.end());
            const auto& first = source.accessUnits(0)[a];
            EXPECT_TRUE(std::equal(aac.begin(), aac.end(), first.end() - static_cast<std::ptrdiff_t>(aac.size())));
            const simtest::AACFrameRead r = reader.read(aac);
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.channels.size(), 2u);
        }
    }
}
