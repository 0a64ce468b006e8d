#include "dab/DABMSCExtractor.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

constexpr int kCIFValues = 18 * 2 * 1536;  // 55,296 = 864 CU

// Value n at position n, so every slice shows where it was cut from.
std::vector<float> numberedFrame() {
    std::vector<float> frame(4 * kCIFValues);
    std::iota(frame.begin(), frame.end(), 0.0f);
    return frame;
}

}  // namespace

TEST(DABMSCExtractorTest, CutsTheSameCapacityUnitsOutOfEachCIF) {
    const DABMSCExtractor extractor;
    const auto slices = extractor.sliceSubchannel(numberedFrame(), 100, 72);
    ASSERT_TRUE(slices);
    for (int cif = 0; cif < 4; ++cif) {
        const auto& slice = (*slices)[static_cast<std::size_t>(cif)];
        ASSERT_EQ(slice.size(), 72u * 64);
        EXPECT_EQ(slice.front(), static_cast<float>(cif * kCIFValues + 100 * 64));
        EXPECT_EQ(slice.back(), static_cast<float>(cif * kCIFValues + 172 * 64 - 1));
    }
}

TEST(DABMSCExtractorTest, AcceptsTheLastCapacityUnitAndRefusesOneBeyond) {
    const DABMSCExtractor extractor;
    const std::vector<float> frame = numberedFrame();
    const auto edge = extractor.sliceSubchannel(frame, 800, 64);
    ASSERT_TRUE(edge);
    EXPECT_EQ((*edge)[3].back(), static_cast<float>(4 * kCIFValues - 1));
    EXPECT_FALSE(extractor.sliceSubchannel(frame, 801, 64));
    EXPECT_TRUE(extractor.sliceSubchannel(frame, 0, 864));
    EXPECT_FALSE(extractor.sliceSubchannel(frame, 0, 865));
    EXPECT_FALSE(extractor.sliceSubchannel(frame, -1, 10));
    EXPECT_FALSE(extractor.sliceSubchannel(frame, 10, 0));
}

TEST(DABMSCExtractorTest, RefusesAShortFrameWithoutTouchingTheOutput) {
    const DABMSCExtractor extractor;
    std::vector<float> frame = numberedFrame();
    frame.pop_back();
    EXPECT_FALSE(extractor.sliceSubchannel(frame, 0, 8));
    std::vector<float> out(4 * 8 * 64, -5.0f);
    EXPECT_FALSE(extractor.sliceSubchannel(frame, 0, 8, out));
    EXPECT_EQ(out.front(), -5.0f);
}
