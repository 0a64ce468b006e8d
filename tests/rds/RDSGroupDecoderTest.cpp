#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "rds/RDSGroupDecoder.h"
#include "sim/RDSEncoder.h"

namespace {

using Offset = RDSEncoder::Offset;

// Blocks are built by the simulator's encoder, which computes checkwords independently.
struct Block {
    std::uint16_t info;
    Offset offset;
};

std::vector<int> bitsOf(std::initializer_list<Block> blocks) {
    std::vector<int> bits;
    for (const Block& b : blocks) {
        const std::uint32_t word = RDSEncoder::encodeBlock(b.info, b.offset);
        for (int i = 25; i >= 0; --i) bits.push_back(static_cast<int>((word >> i) & 1U));
    }
    return bits;
}

std::vector<int> groupBits(std::uint16_t pi, std::uint16_t b, std::uint16_t c, std::uint16_t d,
                           Offset third = Offset::c) {
    return bitsOf({{pi, Offset::a}, {b, Offset::b}, {c, third}, {d, Offset::d}});
}

// Block B of group 0A / 2A: type, TP, PTY and the low bits (TA, M/S, DI, address / A/B, address).
std::uint16_t blockB(int groupType, int pty, bool tp, int low5) {
    return static_cast<std::uint16_t>((groupType << 12) | (tp ? 1 << 10 : 0) | (pty << 5) | low5);
}
std::uint16_t chars(char hi, char lo) {
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(hi) << 8) |
                                      static_cast<std::uint8_t>(lo));
}

struct Recorder {
    RDSGroupDecoder decoder;
    std::vector<std::string> pi, ps, rt, pty;
    std::vector<bool> tp, ta;
    Recorder() {
        decoder.onPICodeUpdated = [this](const std::string& s) { pi.push_back(s); };
        decoder.onPSNameUpdated = [this](const std::string& s) { ps.push_back(s); };
        decoder.onRadioTextUpdated = [this](const std::string& s) { rt.push_back(s); };
        decoder.onPTYUpdated = [this](const std::string& s) { pty.push_back(s); };
        decoder.onTPUpdated = [this](bool b) { tp.push_back(b); };
        decoder.onTAUpdated = [this](bool b) { ta.push_back(b); };
    }
    void feed(const std::vector<int>& bits) {
        for (int b : bits) decoder.processBit(b);
    }
};

std::vector<int> psGroup(int segment, char hi, char lo) {
    return groupBits(0x1234, blockB(0, 10, false, segment), 0xE0CD, chars(hi, lo));
}

TEST(RDSGroupDecoderTest, SynchronisesOnlyOnOffsetA) {
    Recorder r;
    // Start in the middle of a group: blocks B, C, D of one group, then a whole group.
    std::vector<int> bits = bitsOf(
        {{blockB(0, 10, false, 0), Offset::b}, {0xE0CD, Offset::c}, {chars('A', 'B'), Offset::d}});
    r.feed(bits);
    EXPECT_TRUE(r.pi.empty());
    // A few stray bits so the next group does not start on a 26-bit boundary.
    r.feed({1, 0, 1});
    r.feed(groupBits(0x00A1, blockB(0, 31, true, 0), 0xE0CD, chars('A', 'B')));
    ASSERT_EQ(r.pi.size(), 1U);
    EXPECT_EQ(r.pi[0], "00A1");  // the group's own block A, leading zeros kept
    EXPECT_EQ(r.pty[0], "Alarm");
    EXPECT_EQ(r.tp[0], true);
}

TEST(RDSGroupDecoderTest, DropsSyncOnABadBlockAndFindsTheNextA) {
    struct Case {
        const char* name;
        std::vector<int> bad;
    };
    std::vector<int> flipped = psGroup(0, 'A', 'B');
    flipped[3 * 26 + 7] ^= 1;  // one bit error in block D
    const Case cases[] = {
        {"single bit error in D", flipped},
        // Version-B group: the third block carries C', which is not recognised.
        {"version B group", groupBits(0x1234, blockB(0, 10, false, 0) | 0x0800, 0x1234,
                                      chars('A', 'B'), Offset::cPrime)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        r.feed(psGroup(0, 'X', 'Y'));
        ASSERT_EQ(r.pi.size(), 1U);
        r.feed(c.bad);
        EXPECT_EQ(r.pi.size(), 1U);  // nothing from the broken group
        // Searching again: the next intact group is found and decoded.
        r.feed(psGroup(1, 'C', 'D'));
        EXPECT_EQ(r.pi.size(), 2U);
    }
}

TEST(RDSGroupDecoderTest, AssemblesAndTrimsThePSName) {
    Recorder r;
    r.feed(psGroup(0, 'A', 'B'));
    r.feed(psGroup(1, 'C', ' '));
    r.feed(psGroup(2, ' ', ' '));
    EXPECT_TRUE(r.ps.empty());  // not all eight positions yet
    r.feed(psGroup(3, ' ', ' '));
    ASSERT_EQ(r.ps.size(), 1U);
    EXPECT_EQ(r.ps[0], "ABC");
    // Every further segment republishes the name with the refreshed positions.
    r.feed(psGroup(0, 'X', 'B'));
    ASSERT_EQ(r.ps.size(), 2U);
    EXPECT_EQ(r.ps[1], "XBC");
    EXPECT_EQ(r.ta.size(), 5U);
}

TEST(RDSGroupDecoderTest, IgnoresPSSegmentsWithUnprintableBytes) {
    for (const auto& [hi, lo] :
         {std::pair{'\x80', 'B'}, std::pair{'A', '\x80'}, std::pair{'A', '\x1F'}}) {
        SCOPED_TRACE(testing::Message() << int(static_cast<unsigned char>(hi)) << " "
                                        << int(static_cast<unsigned char>(lo)));
        Recorder r;
        r.feed(groupBits(0x1234, blockB(0, 0, false, 0x10 | 0), 0xE0CD, chars(hi, lo)));
        for (int s = 1; s < 4; ++s) r.feed(psGroup(s, 'C', 'D'));
        EXPECT_TRUE(r.ps.empty());  // position 0 and 1 were never filled
        ASSERT_FALSE(r.ta.empty());
        EXPECT_TRUE(r.ta[0]);  // TA is still reported for the dropped segment
    }
}

std::vector<int> rtGroup(int ab, int segment, std::array<std::uint8_t, 4> b) {
    return groupBits(0x1234, blockB(2, 10, false, (ab << 4) | segment),
                     static_cast<std::uint16_t>(b[0] << 8 | b[1]),
                     static_cast<std::uint16_t>(b[2] << 8 | b[3]));
}

TEST(RDSGroupDecoderTest, RadioTextFollowsABFlagAndCarriageReturn) {
    Recorder r;
    // The very first 2A group after a reset never clears, whatever its flag.
    r.feed(rtGroup(1, 1, {'W', 'X', 'Y', 'Z'}));
    r.feed(rtGroup(1, 0, {0x48, 0x69, 0x0D, 0x21}));  // carriage return shows as a space
    ASSERT_EQ(r.rt.size(), 2U);
    EXPECT_EQ(r.rt[1], "Hi !WXYZ");
    r.feed(rtGroup(1, 1, {'w', 0x7F, 0x05, 'z'}));  // unprintable bytes leave their positions
    EXPECT_EQ(r.rt.back(), "Hi !wXYz");
    // Flag 1 -> 0: a new text, the buffer is cleared before the segment is written.
    r.feed(rtGroup(0, 1, {'N', 'e', 'w', '!'}));
    EXPECT_EQ(r.rt.back(), "New!");
    // A group with only spaces after a clear is not reported.
    r.feed(rtGroup(1, 0, {' ', ' ', ' ', ' '}));
    EXPECT_EQ(r.rt.size(), 4U);
}

TEST(RDSGroupDecoderTest, ReportsPTYNamesByCode) {
    const std::pair<int, const char*> cases[] = {{0, "Nedefinirano"}, {1, "Vijesti"},
                                                 {10, "Pop glazba"},  {18, "Dječji program"},
                                                 {30, "Alarm test"},  {31, "Alarm"}};
    for (const auto& [code, name] : cases) {
        SCOPED_TRACE(code);
        Recorder r;
        r.feed(groupBits(0xFFFF, blockB(5, code, false, 0), 0, 0));  // group 5A: header only
        ASSERT_EQ(r.pty.size(), 1U);
        EXPECT_EQ(r.pty[0], name);
        EXPECT_EQ(r.pi[0], "FFFF");
        EXPECT_TRUE(r.ta.empty());
    }
}

TEST(RDSGroupDecoderTest, ResetForgetsSyncAndBuffers) {
    Recorder r;
    for (int s = 0; s < 3; ++s) r.feed(psGroup(s, 'A', 'B'));
    r.feed(rtGroup(0, 0, {'O', 'l', 'd', ' '}));
    std::vector<int> half = psGroup(3, 'A', 'B');
    half.resize(60);  // blocks A, B and part of C
    r.feed(half);
    r.decoder.reset();
    r.feed({1, 1, 0});  // the rest of the interrupted group must not complete it
    r.feed(psGroup(3, 'C', 'D'));
    EXPECT_TRUE(r.ps.empty());  // segments 0..2 were forgotten
    r.feed(rtGroup(1, 1, {'N', 'e', 'w', ' '}));
    EXPECT_EQ(r.rt.back(), "New");  // no "Old" left, and no clear on the first flag
}

}  // namespace
