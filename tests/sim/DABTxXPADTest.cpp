#include "sim/DABTxXPAD.h"

#include <gtest/gtest.h>

#include <vector>

#include "XPADTestReader.h"
#include "sim/DABTxDynamicLabel.h"
#include "sim/DABTxPADCarousel.h"
#include "sim/MOTTxObject.h"

using simtest::XPADAssembler;
using simtest::readXPAD;

namespace {
std::vector<std::uint8_t> ramp(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t k = 0; k < n; ++k) v[k] = static_cast<std::uint8_t>(3 + 5 * k);
    return v;
}
}  // namespace

TEST(DABTxXPADTest, IdlePackerSendsOnlyTheFPAD) {
    DABTxXPADPacker packer(34);
    EXPECT_EQ(packer.nextPAD(), (std::vector<std::uint8_t>{0x00, 0x00}));
}

// A 20-byte label segment: indicator (24 bytes, DLS start), end marker, the segment and 4 bytes
// of padding, all reversed, then F-PAD 0x20 0x02.
TEST(DABTxXPADTest, LabelSegmentLayoutIsReversedBeforeTheFPAD) {
    const auto group = dabTxDynamicLabelDataGroups({.text = "0123456789ABCDEF"}, false)[0];
    ASSERT_EQ(group.size(), 20u);
    DABTxXPADPacker packer(34);
    packer.start(DABTxXPADApplication::dynamicLabel, group);
    const auto pad = packer.nextPAD();
    ASSERT_EQ(pad.size(), 2 + 24 + 2u);
    EXPECT_EQ(pad[pad.size() - 2], 0x20) << "variable-size X-PAD";
    EXPECT_EQ(pad.back(), 0x02) << "contents indicator flag";
    EXPECT_EQ(pad[pad.size() - 3], 5 << 5 | kDABTxXPADDLSStart);
    EXPECT_EQ(pad[pad.size() - 4], 0x00) << "end marker";
    EXPECT_EQ(pad[pad.size() - 5], group[0]);
    EXPECT_EQ(pad[0], 0x00) << "padding after the group";
    EXPECT_TRUE(packer.isIdle());
}

// A MOT data group starts with its length indicator beside the first data subfield; the rest
// follows as continuations, and a receiver gets the group back whole.
TEST(DABTxXPADTest, MOTGroupIsPrecededByItsLengthAndReassembles) {
    for (const std::size_t maxXPAD : {11u, 20u, 34u, 60u}) {
        SCOPED_TRACE(maxXPAD);
        const auto group = ramp(1000);
        DABTxXPADPacker packer(maxXPAD);
        packer.start(DABTxXPADApplication::mot, group);
        XPADAssembler rx;
        const auto first = packer.nextPAD();
        const auto subfields = readXPAD(first);
        ASSERT_TRUE(subfields);
        ASSERT_EQ(subfields->size(), 2u);
        EXPECT_EQ((*subfields)[0].appType, kDABTxXPADLengthIndicator);
        EXPECT_EQ((*subfields)[1].appType, kDABTxXPADMOTStart);
        rx.push(first);
        int aus = 1;
        while (!packer.isIdle()) {
            const auto pad = packer.nextPAD();
            ASSERT_LE(pad.size(), packer.maxPADBytes());
            ASSERT_EQ((*readXPAD(pad))[0].appType, kDABTxXPADMOTContinuation);
            rx.push(pad);
            ++aus;
        }
        ASSERT_EQ(rx.motGroups.size(), 1u);
        EXPECT_EQ(rx.motGroups[0], group);
        EXPECT_EQ(rx.badIndicators, 0);
        EXPECT_GT(aus, 1);
    }
}

TEST(DABTxXPADTest, DataStreamElementHeaderAndEscapedCount) {
    const auto small = dabTxDataStreamElement(ramp(36));
    EXPECT_EQ(small[0], 0x80) << "id 4, tag 0, no alignment flag";
    EXPECT_EQ(small[1], 36);
    EXPECT_EQ(small.size(), 38u);
    EXPECT_EQ(dabTxDataStreamElementBytes(36), 38u);
    const auto big = dabTxDataStreamElement(ramp(300));
    EXPECT_EQ(big[1], 255);
    EXPECT_EQ(big[2], 45);
    EXPECT_EQ(big.size(), 303u);
    EXPECT_EQ(dabTxDataStreamElementBytes(300), 303u);
}

namespace {
DABTxPADCarouselConfig twoWindows() {
    DABTxPADCarouselConfig c;
    c.windowSuperframes = 20;
    for (int w = 0; w < 2; ++w)
        c.windows.push_back({.label = dabTxArtistTitleLabel("Sada svira: ", w ? "B" : "A", " - ", "Pjesma"),
                             .slide = MOTTxObject{.transportId = static_cast<std::uint16_t>(10 + w),
                                                  .contentName = "s.jpg",
                                                  .contentSubtype = kMOTImageJPEG,
                                                  .body = ramp(1500),
                                                  .triggerNow = true}});
    return c;
}
}  // namespace

// Each window carries only its own label (with its toggle) and slide, complete, and no data
// group straddles a window's end.
TEST(DABTxXPADTest, CarouselWindowsAreSelfContained) {
    const DABTxPADCarouselConfig c = twoWindows();
    const auto pads = dabTxPADCarousel(c, 6);
    ASSERT_EQ(pads.size(), 2u * 20 * 6);
    for (std::size_t w = 0; w < 2; ++w) {
        SCOPED_TRACE(w);
        XPADAssembler rx;
        for (std::size_t a = 0; a < 120; ++a) {
            ASSERT_LE(pads[w * 120 + a].size(), c.maxXPADBytes + 2);
            rx.push(pads[w * 120 + a]);
        }
        EXPECT_TRUE(rx.mot.empty() && rx.dls.empty()) << "nothing left half-sent";
        const auto label = dabTxDynamicLabelDataGroups(c.windows[w].label, w == 1);
        ASSERT_GE(rx.dlsGroups.size(), label.size());
        for (std::size_t k = 0; k < rx.dlsGroups.size(); ++k) EXPECT_EQ(rx.dlsGroups[k], label[k % label.size()]) << k;
        const auto slide = motTxHeaderModeDataGroups(*c.windows[w].slide, c.slideSegmentBytes);
        ASSERT_GE(rx.motGroups.size(), slide.size()) << "the whole slide at least once";
        for (std::size_t k = 0; k < rx.motGroups.size(); ++k) {
            // Same type, transport id and payload; continuity counts on across repetitions.
            const auto& got = rx.motGroups[k];
            const auto& want = slide[k % slide.size()];
            ASSERT_EQ(got.size(), want.size());
            EXPECT_EQ(got[0], want[0]);
            EXPECT_TRUE(std::equal(got.begin() + 2, got.end() - 2, want.begin() + 2)) << k;
        }
    }
}

TEST(DABTxXPADTest, OddWindowCountDoublesTheCycleSoTheToggleAlternates) {
    DABTxPADCarouselConfig c = twoWindows();
    c.windows.pop_back();
    EXPECT_EQ(dabTxPADCycleWindows(c), 2u);
    const auto pads = dabTxPADCarousel(c, 4);
    ASSERT_EQ(pads.size(), 2u * 20 * 4);
    XPADAssembler first, second;
    for (std::size_t a = 0; a < 80; ++a) first.push(pads[a]);
    for (std::size_t a = 80; a < 160; ++a) second.push(pads[a]);
    ASSERT_FALSE(first.dlsGroups.empty() || second.dlsGroups.empty());
    EXPECT_EQ(first.dlsGroups[0][0] & 0x80, 0);
    EXPECT_EQ(second.dlsGroups[0][0] & 0x80, 0x80);
}
