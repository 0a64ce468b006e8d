#include "dab/DABFrequencyDeinterleaver.h"

#include <gtest/gtest.h>

#include <random>

#include "DABTestSignal.h"

TEST(DABFrequencyDeinterleaverTest, ModeIPermutationIsValidAndStartsFromPi1) {
    const DABFrequencyDeinterleaver d;
    EXPECT_TRUE(d.isValid());
    ASSERT_EQ(d.carrierCount(), 1536);
    // Π(1) = 511 → −513, Π(2) = (13·511 + 511) mod 2048 = 1010 → −14; Π(0) = 0 is dropped.
    EXPECT_EQ(d.physicalCarrier(0), -513);
    EXPECT_EQ(d.physicalCarrier(1), -14);
    EXPECT_EQ(d.naturalPosition(0), -513 + 768);
    EXPECT_EQ(d.carriers(), dabtest::interleavedCarriers());
    for (int i = 0; i < d.carrierCount(); ++i) {
        const int k = d.physicalCarrier(i);
        EXPECT_EQ(d.naturalPosition(i), k < 0 ? k + 768 : k + 767);
    }
}

TEST(DABFrequencyDeinterleaverTest, OtherParametersAreRejectedByTheSelfCheck) {
    EXPECT_FALSE(DABFrequencyDeinterleaver({.Tu = 2048, .V1 = 511, .lwb = 256, .upb = 1700}).isValid());
    EXPECT_FALSE(DABFrequencyDeinterleaver({.Tu = 0}).isValid());
    EXPECT_EQ(DABFrequencyDeinterleaver({.Tu = 0}).carrierCount(), 0);
}

TEST(DABFrequencyDeinterleaverTest, InterleaveUndoesDeinterleave) {
    const DABFrequencyDeinterleaver d;
    std::mt19937 rng(8);
    std::vector<std::uint8_t> bits(3072);
    for (auto& b : bits) b = static_cast<std::uint8_t>(rng() & 1U);
    const std::vector<std::uint8_t> logical = d.deinterleave(bits);
    EXPECT_NE(logical, bits);
    EXPECT_EQ(d.interleave(logical), bits);
    EXPECT_EQ(d.deinterleave(d.interleave(bits)), bits);
    // Logical pair 0 is the pair of carrier −513, natural position 255.
    EXPECT_EQ(logical[0], bits[2 * 255]);
    EXPECT_EQ(logical[1], bits[2 * 255 + 1]);

    const std::vector<std::uint8_t> odd(bits.begin(), bits.end() - 1);
    EXPECT_EQ(d.deinterleave(odd), odd);
    EXPECT_EQ(d.interleave(odd), odd);
}
