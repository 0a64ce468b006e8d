#include "aprs/APRSFrameParser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/APRSEncoder.h"
#include "sim/SimRandom.h"

namespace {

// The test's own AX.25 builder (AX.25 2.2, 3.12): address characters shifted left by one.
void address(std::vector<std::uint8_t>& out, const std::string& call, int ssid, bool last) {
    for (std::size_t k = 0; k < 6; ++k) out.push_back(static_cast<std::uint8_t>((k < call.size() ? call[k] : ' ') << 1));
    out.push_back(static_cast<std::uint8_t>(0x60 | (ssid << 1) | (last ? 1 : 0)));
}

std::vector<std::uint8_t> withFCS(std::vector<std::uint8_t> bytes) {
    const std::uint16_t fcs = ax25FrameCheck(bytes);
    bytes.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(fcs >> 8));
    return bytes;
}

std::vector<std::uint8_t> frame(const std::string& info, int sourceSSID = 9,
                                std::vector<std::pair<std::string, int>> digis = {}) {
    std::vector<std::uint8_t> out;
    address(out, "APRS", 0, false);
    address(out, "N0CALL", sourceSSID, digis.empty());
    for (std::size_t k = 0; k < digis.size(); ++k) {
        address(out, digis[k].first, digis[k].second, k + 1 == digis.size());
    }
    out.push_back(0x03);
    out.push_back(0xF0);
    out.insert(out.end(), info.begin(), info.end());
    return withFCS(out);
}

}  // namespace

TEST(APRSFrameParserTest, FrameCheckIsTheX25CRC) {
    // CRC-16/X-25 check value of "123456789" (the CRC catalogue's standard check).
    const std::string text = "123456789";
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(ax25FrameCheck(bytes), 0x906E);
    EXPECT_EQ(APRSEncoder::frameCheck(bytes), 0x906E);
    std::vector<std::uint8_t> f = frame("!4903.50N/07201.75W-Test");
    EXPECT_TRUE(ax25FrameCheckMatches(f));
    f[20] ^= 0x04;
    EXPECT_FALSE(ax25FrameCheckMatches(f));
}

TEST(APRSFrameParserTest, AddressesCarrySSIDAndPath) {
    const auto p = parseAX25Frame(frame(">status", 9, {{"WIDE1", 1}, {"WIDE2", 0}}));
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->sourceCallsign, "N0CALL-9");
    EXPECT_EQ(p->destCallsign, "APRS");
    EXPECT_EQ(p->digipeaters, (std::vector<std::string>{"WIDE1-1", "WIDE2"}));
    EXPECT_EQ(p->informationField, ">status");
    EXPECT_FALSE(p->latitude.has_value());
    EXPECT_FALSE(p->comment.has_value());
    EXPECT_EQ(parseAX25Frame(frame(">x", 0))->sourceCallsign, "N0CALL");
}

TEST(APRSFrameParserTest, KeepsTheFrameBytesWithoutTheFCS) {
    // Bytes KISS must escape, in the information field, survive as they are.
    const auto withCheck = frame(std::string(">\xC0\xDB\xFF", 4), 9, {{"WIDE1", 1}});
    const auto p = parseAX25Frame(withCheck);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->frame, std::vector<std::uint8_t>(withCheck.begin(), withCheck.end() - 2));
    const auto sent = APRSEncoder::frameBytes({.source = {.callsign = "9A3RBS", .ssid = 9}, .information = "!x"});
    EXPECT_EQ(parseAX25Frame(sent)->frame, std::vector<std::uint8_t>(sent.begin(), sent.end() - 2));
}

TEST(APRSFrameParserTest, ParsesUncompressedPositions) {
    struct Case {
        const char* info;
        std::optional<double> lat, lon;
        std::optional<std::string> comment;
    };
    // APRS101 chapter 8 example; the timestamp forms of chapter 6.
    const Case cases[] = {
        {"!4903.50N/07201.75W-Test", 49.058333, -72.029166, "Test"},
        {"=4903.50N/07201.75W-", 49.058333, -72.029166, ""},
        {"@092345z4903.50N/07201.75W-", 49.058333, -72.029166, ""},
        {"/092345/4903.50S/07201.75E>mobile", -49.058333, 72.029166, "mobile"},
        {"@234517h4903.50N/07201.75W-Test", 49.058333, -72.029166, "Test"},
        {"!4903.50N/07201.75W", std::nullopt, std::nullopt, std::nullopt},   // 18 characters
        {"!4903.  N/07201.75W-", std::nullopt, std::nullopt, std::nullopt},  // ambiguity spaces
        {"!9103.50N/07201.75W-", std::nullopt, std::nullopt, std::nullopt},  // latitude > 90
        {"!4903.50N/18101.75W-", std::nullopt, std::nullopt, std::nullopt},  // longitude > 180
        {":N0CALL   :hello", std::nullopt, std::nullopt, std::nullopt},     // a message
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info);
        const auto p = parseAX25Frame(frame(c.info));
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->informationField, c.info);
        ASSERT_EQ(p->latitude.has_value(), c.lat.has_value());
        if (c.lat) {
            EXPECT_NEAR(*p->latitude, *c.lat, 1e-6);
            EXPECT_NEAR(*p->longitude, *c.lon, 1e-6);
        }
        EXPECT_EQ(p->comment, c.comment);
    }
}

TEST(APRSFrameParserTest, LatinOneTextBecomesUTF8) {
    const auto p = parseAX25Frame(frame("!4903.50N/07201.75W-Gra\xE8 \xB0"));
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->comment, "Gra\xC3\xA8 \xC2\xB0");
}

TEST(APRSFrameParserTest, FramesWithoutInformationGiveNoPacket) {
    std::vector<std::uint8_t> out;
    address(out, "APRS", 0, false);
    address(out, "N0CALL", 0, true);
    out.push_back(0x03);
    out.push_back(0xF0);
    EXPECT_FALSE(parseAX25Frame(withFCS(out)).has_value());
    // A path that runs into the end of the frame.
    EXPECT_FALSE(parseAX25Frame(frame("", 0, {{"WIDE1", 1}})).has_value());
}

TEST(APRSFrameParserTest, RandomAndTruncatedBytesNeverCrash) {
    SimRandom rng(21);
    const std::vector<std::uint8_t> good = frame("@092345z4903.50N/07201.75W-Test", 3, {{"WIDE2", 2}});
    for (std::size_t n = 0; n <= good.size(); ++n) {
        (void)parseAX25Frame(std::span(good).first(n));
        (void)ax25FrameCheckMatches(std::span(good).first(n));
    }
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> bytes(rng.nextU32() % 80);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng.nextU32());
        if (bytes.size() > 16 && round % 2 == 0) bytes[16] = '!';
        const auto p = parseAX25Frame(bytes);
        if (p) {
            EXPECT_LE(std::fabs(p->latitude.value_or(0.0)), 90.0);
        }
        std::string text(bytes.begin(), bytes.end());
        (void)parseAPRSUncompressedPosition(text);
    }
}
