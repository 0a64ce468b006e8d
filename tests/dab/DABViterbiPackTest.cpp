#include "dab/DABViterbiPack.h"

#include <gtest/gtest.h>

#include "DABMSCTestEncoder.h"
#include "dab/DABDepuncture.h"

namespace {

struct Case {
    const char* name;
    DABSubchannel subchannel;
    dabtest::TestProfile profile;  // from the coding rules, not from the receiver
    int bitrateKbps;
};

// Bytes → transmitted soft values → depuncture → decode, for one CIF.
std::vector<std::uint8_t> roundTrip(const Case& c, const std::vector<std::uint8_t>& bytes, float noise,
                                    std::uint32_t seed) {
    const dabtest::Bits sent = dabtest::encodeCIF(dabtest::toBits(bytes), c.profile);
    EXPECT_EQ(sent.size(), static_cast<std::size_t>(c.subchannel.sizeCU) * 64);
    const auto mother = DABDepuncture::expandEEP(dabtest::toSoftValues(sent, noise, seed), c.subchannel);
    if (!mother) return {};
    const int blockLength = DABViterbiPack::blockLengthFor(mother->size());
    EXPECT_EQ(blockLength, 24 * c.bitrateKbps);
    return viterbiPack(*mother, blockLength);
}

const Case kCases[] = {
    {"48k 3-A", {.sizeCU = 36, .protection = 2}, {.L1 = 33, .L2 = 3, .PI1 = 8, .PI2 = 7}, 48},
    {"64k 3-A", {.sizeCU = 48, .protection = 2}, {.L1 = 45, .L2 = 3, .PI1 = 8, .PI2 = 7}, 64},
    {"96k 3-A", {.sizeCU = 72, .protection = 2}, {.L1 = 69, .L2 = 3, .PI1 = 8, .PI2 = 7}, 96},
    {"8k 2-A", {.sizeCU = 8, .protection = 1}, {.L1 = 5, .L2 = 1, .PI1 = 13, .PI2 = 12}, 8},
    {"64k 4-A", {.sizeCU = 32, .protection = 3}, {.L1 = 29, .L2 = 19, .PI1 = 3, .PI2 = 2}, 64},
    {"64k 2-B", {.sizeCU = 42, .protection = 5}, {.L1 = 45, .L2 = 3, .PI1 = 6, .PI2 = 5}, 64},
};

}  // namespace

TEST(DABViterbiPackTest, RoundTripsEverySubchannelShapeThroughNoise) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            const auto bytes = dabtest::randomBytes(static_cast<std::size_t>(3 * c.bitrateKbps), seed);
            EXPECT_EQ(roundTrip(c, bytes, 0.0f, seed), bytes);
            // 4-A is the weakest code; keep its noise where it still decodes.
            EXPECT_EQ(roundTrip(c, bytes, 0.35f, seed + 100), bytes);
        }
    }
}

TEST(DABViterbiPackTest, MetricsScaleToThePeakAndKeepTheSign) {
    const std::vector<float> soft = {0.5f, -0.25f, 0.0f, 1e-3f, -0.5f};
    std::vector<int> metrics(soft.size());
    DABViterbiPack::toMetrics(soft, metrics);
    EXPECT_EQ(metrics, (std::vector<int>{127, -64, 0, 0, -127}));
    // A silent input must not be divided by its zero peak.
    const std::vector<float> silent(9240, 0.0f);
    std::vector<int> zeroMetrics(silent.size(), 5);
    DABViterbiPack::toMetrics(silent, zeroMetrics);
    EXPECT_EQ(zeroMetrics, std::vector<int>(silent.size(), 0));
    const std::vector<float> tiny = {1e-13f, -1e-13f};
    std::vector<int> tinyMetrics(2, 5);
    DABViterbiPack::toMetrics(tiny, tinyMetrics);
    EXPECT_EQ(tinyMetrics, (std::vector<int>{0, 0}));
}

TEST(DABViterbiPackTest, TooFewValuesOrBadLengthsGiveNothing) {
    const std::vector<float> soft(4 * (2304 + 6) - 1, 1.0f);
    EXPECT_TRUE(viterbiPack(soft, 2304).empty());
    EXPECT_FALSE(viterbiPackGeneric(soft, 2304));
    const std::vector<float> enough(4 * (2304 + 6), 1.0f);
    EXPECT_EQ(viterbiPack(enough, 2304).size(), 288u);
    EXPECT_TRUE(viterbiPack(enough, 2300).empty());  // not whole bytes
    const auto generic = viterbiPackGeneric(enough, 2300);
    ASSERT_TRUE(generic);
    EXPECT_EQ(generic->size(), 288u);
    EXPECT_EQ(generic->back() & 0x0F, 0);  // bits past the block stay clear
    EXPECT_FALSE(viterbiPackGeneric(enough, 0));
}
