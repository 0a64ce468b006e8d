#include <gtest/gtest.h>

#include <bitset>
#include <string_view>
#include <vector>

#include "sim/DABPlusSuperframer.h"

namespace {
std::vector<std::uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

// Remainder of M(x)·x^16 by G(x), by long division over the message's bits (first bit = highest
// power): an independent way to the same fire code.
std::uint16_t fireByDivision(std::span<const std::uint8_t> message) {
    constexpr int kGenerator[] = {16, 14, 13, 12, 11, 5, 3, 2, 1, 0};
    const std::size_t bits = 8 * message.size() + 16;
    std::vector<int> poly(bits, 0);  // poly[i] = coefficient of x^(bits-1-i)
    for (std::size_t i = 0; i < 8 * message.size(); ++i)
        poly[i] = (message[i / 8] >> (7 - i % 8)) & 1;
    for (std::size_t i = 0; i + 16 < bits; ++i)
        if (poly[i])
            for (const int g : kGenerator) poly[i + 16 - static_cast<std::size_t>(g)] ^= 1;
    std::uint16_t r = 0;
    for (std::size_t i = bits - 16; i < bits; ++i)
        r = static_cast<std::uint16_t>((r << 1) | poly[i]);
    return r;
}

std::vector<std::vector<std::uint8_t>> makeAUs(int count, std::size_t size) {
    std::vector<std::vector<std::uint8_t>> aus;
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> au(size + static_cast<std::size_t>(i));  // unequal sizes
        for (std::size_t k = 0; k < au.size(); ++k)
            au[k] = static_cast<std::uint8_t>(17 * i + 3 * k + 1);
        aus.push_back(std::move(au));
    }
    return aus;
}

std::uint8_t gfMul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    for (; b; b >>= 1) {
        if (b & 1) r ^= a;
        a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1D : 0));
    }
    return r;
}
}  // namespace

TEST(DABPlusSuperframerTest, AUCRCIsTheComplementedCCITTCheckValue) {
    // CRC-16/CCITT (x^16 + x^12 + x^5 + 1, start 0xFFFF) of "123456789" is 0x29B1.
    EXPECT_EQ(dabPlusAUCRC(bytesOf("123456789")), static_cast<std::uint16_t>(~0x29B1));
}

TEST(DABPlusSuperframerTest, FireCodeIsTheRemainderByItsGenerator) {
    const std::vector<std::vector<std::uint8_t>> messages{
        {0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x80, 0, 0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0, 0, 1},
        {0x50, 0x0B, 0x21, 0x70, 0x1F, 0x02, 0x6B, 0x34, 0x5A},
    };
    for (const auto& m : messages) EXPECT_EQ(dabPlusFireCode(m), fireByDivision(m));
    // x^0 alone: x^16 mod G = G - x^16, the generator's low terms.
    EXPECT_EQ(dabPlusFireCode(messages[2]), 0x782F);
}

TEST(DABPlusSuperframerTest, LayoutHoldsHeaderAUsCRCsAndParity) {
    struct Case {
        int bitrateKbps;
        int rateHz;
        bool stereo;
        int aus;
        std::size_t firstAU;
        std::uint8_t format;
    };
    const Case cases[] = {
        {96, 48'000, true, 6, 11, 0x50},   // dac_rate 1, stereo
        {48, 48'000, false, 6, 11, 0x40},  // dac_rate 1, mono
        {32, 32'000, false, 4, 8, 0x00},   // 32 kHz: 4 AUs of 30 ms
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitrateKbps);
        const DABPlusSuperframer framer(
            {.bitrateKbps = c.bitrateKbps, .sampleRateHz = c.rateHz, .isStereo = c.stereo});
        const std::size_t s = static_cast<std::size_t>(c.bitrateKbps / 8);
        ASSERT_EQ(framer.accessUnits(), c.aus);
        ASSERT_EQ(framer.headerBytes(), c.firstAU);
        ASSERT_EQ(framer.superframeBytes(), 120 * s);
        const auto aus = makeAUs(c.aus, 20);
        std::vector<std::uint8_t> sf(framer.superframeBytes(), 0xEE);
        ASSERT_TRUE(framer.build(aus, sf));

        EXPECT_EQ((sf[0] << 8 | sf[1]), dabPlusFireCode(std::span(sf).subspan(2, 9)));
        EXPECT_EQ(sf[2], c.format);
        std::vector<std::size_t> starts{c.firstAU};
        for (int i = 1; i < c.aus; ++i) {
            // 12-bit addresses packed from byte 3 on.
            const std::size_t bit = 24 + 12 * static_cast<std::size_t>(i - 1);
            std::size_t v = 0;
            for (std::size_t b = bit; b < bit + 12; ++b)
                v = (v << 1) | ((sf[b / 8] >> (7 - b % 8)) & 1);
            starts.push_back(v);
        }
        for (int i = 0; i < c.aus; ++i) {
            SCOPED_TRACE(i);
            const auto& au = aus[static_cast<std::size_t>(i)];
            const std::size_t at = starts[static_cast<std::size_t>(i)];
            // The last AU runs to the end of the data: padding data stream elements a decoder
            // reads through, then the AU, then its CRC.
            const bool last = i + 1 == c.aus;
            const std::size_t end = last ? 110 * s : at + au.size() + 2;
            const std::span<const std::uint8_t> sent(sf.data() + at, end - 2 - at);
            ASSERT_GE(sent.size(), au.size());
            const std::size_t padding = sent.size() - au.size();
            ASSERT_TRUE(std::equal(au.begin(), au.end(), sent.begin() + static_cast<std::ptrdiff_t>(padding)));
            for (std::size_t p = 0; p < padding;) {
                ASSERT_EQ(sent[p] >> 5, 4) << "padding element at " << p;
                const std::size_t count = sent[p + 1] < 255 ? sent[p + 1] : 255u + sent[p + 2];
                p += (sent[p + 1] < 255 ? 2 : 3) + count;
                ASSERT_LE(p, padding);
            }
            const std::uint16_t crc = dabPlusAUCRC(sent);
            EXPECT_EQ(sf[end - 2], crc >> 8);
            EXPECT_EQ(sf[end - 1], crc & 0xFF);
            if (!last) {
                EXPECT_EQ(starts[static_cast<std::size_t>(i) + 1], end);
            }
        }
        // Each interleaved codeword (bytes k, k + s, ...) has zero syndromes at α^0..α^9.
        for (std::size_t k = 0; k < s; ++k)
            for (int j = 0; j < 10; ++j) {
                std::uint8_t alpha = 1;
                for (int e = 0; e < j; ++e) alpha = gfMul(alpha, 2);
                std::uint8_t acc = 0;
                for (std::size_t row = 0; row < 120; ++row)
                    acc = gfMul(acc, alpha) ^ sf[row * s + k];
                ASSERT_EQ(acc, 0) << "codeword " << k << " root " << j;
            }
    }
}

TEST(DABPlusSuperframerTest, AcceptsAUsUpToCapacityAndRefusesMore) {
    const DABPlusSuperframer framer({.bitrateKbps = 48});
    std::vector<std::uint8_t> sf(framer.superframeBytes());
    std::vector<std::vector<std::uint8_t>> aus(
        6, std::vector<std::uint8_t>(framer.accessUnitCapacity(), 0x5A));
    EXPECT_TRUE(framer.build(aus, sf));
    // (660 - 11) / 6 - 2 = 106: one AU can still take the remainder, but 6 more bytes overflow.
    EXPECT_EQ(framer.accessUnitCapacity(), 106u);
    for (auto& au : aus) au.push_back(0);
    const std::vector<std::uint8_t> before = sf;
    EXPECT_FALSE(framer.build(aus, sf));
    EXPECT_EQ(sf, before);
}
