#include "DABViewMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

DABScanResult result(const std::string& label, float strengthDB, float snr) {
    return {.channel = {.id = label, .label = label, .frequencyMHz = 200.0}, .strengthDB = strengthDB, .snrEstimate = snr};
}

DABConstellationPoint atDegrees(double deg, double radius) {
    const double rad = deg * std::numbers::pi / 180.0;
    return {.re = static_cast<float>(radius * std::cos(rad)), .im = static_cast<float>(radius * std::sin(rad))};
}

}  // namespace

TEST(DABViewMathTest, FewerChannelsAreThoseWithSignalInListOrder) {
    // Order as the scanner delivers it (strongest first); hasSignal means an SNR above 3 dB.
    const std::vector<DABScanResult> results = {result("12C", -12, 24), result("8B", -36, 0), result("5C", -15, 21),
                                                result("13B", -37, 3)};
    EXPECT_EQ(shownDABChannels(results, false), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(shownDABChannels(results, true), (std::vector<std::size_t>{0, 1, 2, 3}));
}

TEST(DABViewMathTest, WithoutSignalTheStrongestFewAreOffered) {
    std::vector<DABScanResult> results;
    for (int k = 0; k < 8; ++k) results.push_back(result("C" + std::to_string(k), -40.0f + static_cast<float>(k % 3), 0));
    // Levels -40, -39, -38, -40, -39, -38, -40, -39: the two at -38 and the first two at -39.
    EXPECT_EQ(shownDABChannels(results, false), (std::vector<std::size_t>{1, 2, 4, 5}));
    EXPECT_TRUE(shownDABChannels({}, false).empty());
    EXPECT_TRUE(shownDABChannels({}, true).empty());
}

TEST(DABViewMathTest, ConstellationSpreadMeasuresDistanceFromTheFourPhases) {
    struct Case {
        double offsetDeg;  // every point turned by this much from its ideal phase
        float spreadDeg;
    };
    // Points at 45° + 90° k + offset lie |offset| from the nearest phase, up to the 45° midpoint.
    const Case cases[] = {{0.0, 0.0f}, {10.0, 10.0f}, {-20.0, 20.0f}, {44.0, 44.0f}, {46.0, 44.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetDeg);
        std::vector<DABConstellationPoint> points;
        for (int k = 0; k < 192; ++k) points.push_back(atDegrees(45.0 + 90.0 * (k % 4) + c.offsetDeg, 3.0));
        const ConstellationStats stats = constellationStats(points);
        EXPECT_EQ(stats.count, 192u);
        EXPECT_NEAR(stats.rmsRadius, 3.0f, 1e-4f);
        EXPECT_NEAR(stats.spreadDeg, c.spreadDeg, 1e-3f);
    }
}

TEST(DABViewMathTest, NoisyClustersStayClearAndUniformPhasesDoNot) {
    std::mt19937 rng(7);
    std::normal_distribution<double> jitter(0.0, 8.0);
    std::uniform_real_distribution<double> anywhere(-180.0, 180.0);
    std::vector<DABConstellationPoint> clusters, scattered;
    for (int k = 0; k < 192; ++k) {
        clusters.push_back(atDegrees(45.0 + 90.0 * (k % 4) + jitter(rng), 1.0 + 0.1 * jitter(rng)));
        scattered.push_back(atDegrees(anywhere(rng), 1.0));
    }
    // 8° of phase noise gives about 8° of spread; uniform phases give 45°/√3 ≈ 26°.
    EXPECT_LT(constellationStats(clusters).spreadDeg, kClearConstellationSpreadDeg);
    EXPECT_NEAR(constellationStats(scattered).spreadDeg, 26.0f, 3.0f);
    EXPECT_GT(constellationStats(scattered).spreadDeg, kClearConstellationSpreadDeg);
    EXPECT_EQ(constellationStats({}), ConstellationStats{});
}

TEST(DABViewMathTest, DLPlusLineNamesArtistAndTitle) {
    EXPECT_EQ(dlPlusLine("Arsen Dedić", "Moja mala djevojčica"), "Arsen Dedić – Moja mala djevojčica");
    EXPECT_EQ(dlPlusLine("Arsen Dedić", std::nullopt), "Arsen Dedić");
    EXPECT_EQ(dlPlusLine(std::nullopt, "Pjesma"), "Pjesma");
    EXPECT_EQ(dlPlusLine("", "Pjesma"), "Pjesma");
    EXPECT_EQ(dlPlusLine(std::nullopt, std::nullopt), std::nullopt);
}

TEST(DABViewMathTest, PicturesFitTheirBoxKeepingShape) {
    struct Case {
        int w, h;
        float boxW, boxH;
        PictureFit fit;
    };
    const Case cases[] = {
        {320, 240, 240, 180, {240, 180}},  // a slideshow image at three quarters
        {320, 240, 240, 240, {240, 180}},  // wide picture in a square: full width
        {128, 128, 240, 180, {180, 180}},  // square logo in a wide box: full height
        {32, 32, 56, 56, {56, 56}},        // small logos are enlarged
        {0, 240, 240, 180, {}},            // empty picture
        {320, 240, 0, 180, {}},            // no room
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const PictureFit fit = fitPicture(c.w, c.h, c.boxW, c.boxH);
        EXPECT_NEAR(fit.width, c.fit.width, 1e-3f);
        EXPECT_NEAR(fit.height, c.fit.height, 1e-3f);
    }
}

TEST(DABViewMathTest, LockedOnlyOnceTheEnsembleIsKnownAndTheFICPasses) {
    EXPECT_FALSE(isDABLocked("", 12));
    EXPECT_FALSE(isDABLocked("Ðakovo-Čakovec", 0));
    EXPECT_TRUE(isDABLocked("Ðakovo-Čakovec", 9));
}
