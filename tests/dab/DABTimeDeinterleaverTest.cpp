#include "dab/DABTimeDeinterleaver.h"

#include <gtest/gtest.h>

#include "DABMSCTestEncoder.h"

namespace {

std::vector<float> cifOf(std::size_t bits, float base) {
    std::vector<float> cif(bits);
    for (std::size_t i = 0; i < bits; ++i) cif[i] = base + static_cast<float>(i) * 1e-3f;
    return cif;
}

}  // namespace

TEST(DABTimeDeinterleaverTest, FifteenCIFsWarmUpAndTheSixteenthGivesTheFirstOutput) {
    DABTimeDeinterleaver deinterleaver(4);
    for (int n = 0; n < 15; ++n) {
        EXPECT_FALSE(deinterleaver.pushCIF(cifOf(256, static_cast<float>(n)))) << n;
    }
    const auto first = deinterleaver.pushCIF(cifOf(256, 15.0f));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), 256u);
    EXPECT_EQ(deinterleaver.fills(), 16);
    // Bit 0 has delay slot 0: it comes from the oldest CIF; bit 1 (slot 8) from CIF 8.
    EXPECT_FLOAT_EQ((*first)[0], 0.0f);
    EXPECT_FLOAT_EQ((*first)[1], 8.0f + 1e-3f);
    EXPECT_FLOAT_EQ((*first)[15], 15.0f + 15e-3f);
}

TEST(DABTimeDeinterleaverTest, WrongLengthIsRefusedWithoutAdvancingTheRing) {
    DABTimeDeinterleaver refused(2), clean(2);
    for (int n = 0; n < 20; ++n) {
        EXPECT_FALSE(refused.pushCIF(std::vector<float>(127, 9.0f)));
        EXPECT_FALSE(refused.pushCIF(std::vector<float>(129, 9.0f)));
        const auto a = refused.pushCIF(cifOf(128, static_cast<float>(n)));
        const auto b = clean.pushCIF(cifOf(128, static_cast<float>(n)));
        EXPECT_EQ(a, b) << n;
    }
    EXPECT_EQ(refused.fills(), 20);
}

TEST(DABTimeDeinterleaverTest, UndoesTheTransmitterInterleavingAfterWarmUp) {
    constexpr std::size_t kBits = 72 * 64;
    dabtest::TestTimeInterleaver interleaver(kBits);
    DABTimeDeinterleaver deinterleaver(72);
    std::vector<std::vector<float>> logical;
    std::vector<float> out(kBits);
    for (int t = 0; t < 40; ++t) {
        logical.push_back(dabtest::toSoftValues(dabtest::toBits(dabtest::randomBytes(kBits / 8, t)), 0.0f));
        const bool produced = deinterleaver.pushCIF(interleaver.push(logical.back()), out);
        ASSERT_EQ(produced, t >= 15) << t;
        if (produced) {
            ASSERT_EQ(out, logical[static_cast<std::size_t>(t - 15)]) << t;
        }
    }
}

TEST(DABTimeDeinterleaverTest, ResetStartsTheWarmUpAgain) {
    DABTimeDeinterleaver deinterleaver(1);
    for (int n = 0; n < 16; ++n) deinterleaver.pushCIF(cifOf(64, 1.0f));
    deinterleaver.reset();
    EXPECT_EQ(deinterleaver.fills(), 0);
    for (int n = 0; n < 15; ++n) EXPECT_FALSE(deinterleaver.pushCIF(cifOf(64, 2.0f)));
    const auto out = deinterleaver.pushCIF(cifOf(64, 2.0f));
    ASSERT_TRUE(out);
    EXPECT_FLOAT_EQ((*out)[0], 2.0f);  // nothing of the earlier CIFs survives
}
