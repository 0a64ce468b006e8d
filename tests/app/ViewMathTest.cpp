#include "ViewMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TuningActions.h"

TEST(ViewMathTest, SpanCropKeepsTheCentredBins) {
    struct Case {
        std::size_t bins;
        double spanMHz;
        BinRange expected;
    };
    // k = min(n, floor(s / 2.048 × n)), at least 1, from (n − k) / 2.
    const Case cases[] = {
        {2048, 1.536, {256, 1536}},  // the DAB span of a 2048-point row
        {2048, 2.048, {0, 2048}},
        {2048, 3.0, {0, 2048}},      // wider than the dongle: clamped
        {96, 1.536, {12, 72}},       // the controller's 96-bin rows
        {97, 1.536, {12, 72}},       // floor(72.75) = 72, (97 − 72) / 2 = 12
        {10, 0.0001, {4, 1}},        // never fewer than one bin
        {10, -1.0, {4, 1}},
        {0, 1.536, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bins << " bins, " << c.spanMHz << " MHz");
        EXPECT_EQ(spanCrop(c.bins, c.spanMHz), c.expected);
    }
}

TEST(ViewMathTest, CropRowReturnsTheMiddleValues) {
    std::vector<float> row(2048);
    for (std::size_t k = 0; k < row.size(); ++k) row[k] = static_cast<float>(k);
    const std::vector<float> cropped = cropRow(row, 1.536);
    ASSERT_EQ(cropped.size(), 1536u);
    EXPECT_EQ(cropped.front(), 256.0f);
    EXPECT_EQ(cropped.back(), 1791.0f);
    EXPECT_TRUE(cropRow({}, 1.536).empty());
}

TEST(ViewMathTest, MarkerFractionFollowsTheCrop) {
    // The centre stays the centre; the edges of the full row fall outside a narrower span.
    EXPECT_DOUBLE_EQ(*croppedFraction(0.5, 96, 1.536), 0.5);
    EXPECT_DOUBLE_EQ(*croppedFraction(0.5, 96, 2.048), 0.5);
    EXPECT_DOUBLE_EQ(*croppedFraction(0.0, 96, 2.048), 0.0);
    EXPECT_FALSE(croppedFraction(0.05, 96, 1.536).has_value());
    EXPECT_DOUBLE_EQ(*croppedFraction(12.0 / 96.0, 96, 1.536), 0.0);
}

TEST(ViewMathTest, TapAtEitherEdgeTunesHalfTheSpanAway) {
    const double plotWidth = 600.0;
    struct Case {
        double x;
        double spanMHz;
        double expectedMHz;
    };
    // The analog view's 2.048 MHz span is centred on the listened frequency (92.1 MHz).
    const Case cases[] = {
        {0.0, 2.048, 92.1 - 1.024},                                 // left of the scale: clamped to 0
        {kSpectrumScaleWidth, 2.048, 92.1 - 1.024},                 // far left of the plot
        {kSpectrumScaleWidth + plotWidth, 2.048, 92.1 + 1.024},     // far right
        {kSpectrumScaleWidth + plotWidth + 50, 2.048, 92.1 + 1.024},
        {kSpectrumScaleWidth + plotWidth / 2, 2.048, 92.1},
        {kSpectrumScaleWidth + plotWidth / 4, 2.048, 92.1 - 0.512},
        {kSpectrumScaleWidth, 1.536, 92.1 - 0.768},                 // a cropped span maps as drawn
        {kSpectrumScaleWidth + plotWidth, 1.536, 92.1 + 0.768},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << ", span " << c.spanMHz);
        const double f = tapFraction(c.x, kSpectrumScaleWidth, plotWidth);
        EXPECT_NEAR(frequencyAtFraction(92.1, c.spanMHz, f), c.expectedMHz, 1e-9);
    }
    // Without a scale the plot starts at the left edge.
    EXPECT_DOUBLE_EQ(tapFraction(0.0, 0.0, 100.0), 0.0);
    EXPECT_DOUBLE_EQ(tapFraction(25.0, 0.0, 100.0), 0.25);
    EXPECT_DOUBLE_EQ(tapFraction(10.0, 22.0, 0.0), 0.5);  // no plot yet: no jump to an edge
}

TEST(ViewMathTest, VerticalScaleLabelsStepDownByQuarters) {
    struct Case {
        float top, bottom;
        std::array<std::string, 5> expected;
    };
    const Case cases[] = {
        {0.0f, -100.0f, {"0", "-25", "-50", "-75", "-100"}},
        {35.0f, -13.0f, {"35", "23", "11", "-1", "-13"}},
        {-40.0f, -120.0f, {"-40", "-60", "-80", "-100", "-120"}},
        {-10.0f, -10.0f, {"-10", "-10", "-10", "-10", "-10"}},
        {1.0f, -1.0f, {"1", "0", "0", "0", "-1"}},  // no "-0" for a value just below zero
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.top << " to " << c.bottom);
        EXPECT_EQ(verticalScaleLabels(c.top, c.bottom), c.expected);
    }
}

TEST(ViewMathTest, KnobStepsFollowTheModifiers) {
    struct Case {
        double delta;
        KnobModifiers modifiers;
        double scrollHz;
        double dragHz;
    };
    // Option (Alt) is tested before Shift, so both held act as Option.
    const Case cases[] = {
        {1.0, {}, 100'000.0, 2'500.0},
        {-1.0, {}, -100'000.0, -2'500.0},
        {1.0, {.option = true}, 10'000.0, 250.0},
        {1.0, {.shift = true}, 1'000'000.0, 25'000.0},
        {-1.0, {.option = true, .shift = true}, -10'000.0, -250.0},
        {0.0, {}, -100'000.0, 0.0},  // a zero delta is not "greater than zero"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delta << " option " << c.modifiers.option << " shift " << c.modifiers.shift);
        EXPECT_DOUBLE_EQ(scrollStepHz(c.delta, c.modifiers), c.scrollHz);
        EXPECT_DOUBLE_EQ(dragStepHz(c.delta, c.modifiers), c.dragHz);
    }
    EXPECT_DOUBLE_EQ(dragStepHz(12.0, {}), 30'000.0);  // 12 px × 0.25 × 10 kHz
}

TEST(ViewMathTest, AdjustmentNeverTunesBelowZero) {
    EXPECT_DOUBLE_EQ(adjustedFrequencyMHz(92.1, 100'000.0), 92.2);
    EXPECT_DOUBLE_EQ(adjustedFrequencyMHz(0.05, -100'000.0), 0.0);
    EXPECT_DOUBLE_EQ(adjustedFrequencyMHz(0.0, -1'000'000.0), 0.0);
    EXPECT_DOUBLE_EQ(adjustedFrequencyMHz(0.1, -100'000.0), 0.0);
}

TEST(ViewMathTest, RotationIsReducedOnlyPastOneHundredThousandDegrees) {
    EXPECT_DOUBLE_EQ(wrapRotation(100'000.0), 100'000.0);
    EXPECT_DOUBLE_EQ(wrapRotation(-100'000.0), -100'000.0);
    EXPECT_DOUBLE_EQ(wrapRotation(100'005.0), std::fmod(100'005.0, 360.0));
    EXPECT_DOUBLE_EQ(wrapRotation(-100'005.0), std::fmod(-100'005.0, 360.0));
    EXPECT_DOUBLE_EQ(wrapRotation(725.0), 725.0);
    // The reduced angle points the same way.
    EXPECT_NEAR(std::fmod(wrapRotation(123'456.0) - 123'456.0, 360.0), 0.0, 1e-9);
}

TEST(ViewMathTest, ColourRampHitsEveryStop) {
    struct Case {
        float value;
        RGB8 expected;
    };
    // Stop colours × 255, truncated: 0.35 × 255 = 89.25, 0.85 × 255 = 216.75, 0.55 × 255 = 140.25.
    const Case cases[] = {
        {0.00f, {0, 0, 0}},     {0.15f, {0, 0, 89}},     {0.30f, {0, 0, 216}},
        {0.45f, {0, 140, 216}}, {0.55f, {0, 191, 76}},   {0.68f, {216, 216, 0}},
        {0.78f, {242, 140, 0}}, {0.90f, {229, 25, 25}},  {1.00f, {255, 255, 255}},
        {-0.5f, {0, 0, 0}},     {1.5f, {255, 255, 255}},  // clamped first
        {0.075f, {0, 0, 44}},   // halfway between the first two stops
        {std::numeric_limits<float>::quiet_NaN(), {255, 255, 255}},  // matches no segment
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const RGB8 got = waterfallColour(c.value);
        // Interpolation at a stop can land a hair under it in float; allow one step.
        EXPECT_NEAR(got.r, c.expected.r, 1);
        EXPECT_NEAR(got.g, c.expected.g, 1);
        EXPECT_NEAR(got.b, c.expected.b, 1);
    }
}

TEST(ViewMathTest, WaterfallImageHasOneOpaqueRowPerHistoryRow) {
    const std::vector<std::vector<float>> history = {std::vector<float>(96, 1.0f), std::vector<float>(96, 0.0f),
                                                     std::vector<float>(48, 1.0f)};
    const WaterfallImage image = waterfallImage(history, 1.536);
    ASSERT_EQ(image.width, 72);
    ASSERT_EQ(image.height, 3);
    ASSERT_EQ(image.rgba.size(), 72u * 3u * 4u);
    const auto pixel = [&](int x, int y) { return &image.rgba[(static_cast<std::size_t>(y) * 72 + x) * 4]; };
    EXPECT_EQ(pixel(0, 0)[0], 255);  // newest row first, white
    EXPECT_EQ(pixel(0, 1)[0], 0);
    EXPECT_EQ(pixel(35, 2)[0], 255);  // a short row is cropped on its own and padded
    EXPECT_EQ(pixel(71, 2)[0], 0);
    for (std::size_t k = 3; k < image.rgba.size(); k += 4) ASSERT_EQ(image.rgba[k], 255);
    EXPECT_EQ(waterfallImage({}, 2.048).height, 0);
}

TEST(ViewMathTest, FrequencyFieldAcceptsOnlyTunableFrequencies) {
    struct Case {
        const char* text;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"92.1", 92.1},     {"92,10", 92.1},   {" 118.325 MHz", 118.325}, {"1090mhz", 1090.0},
        {"", std::nullopt}, {"abc", std::nullopt}, {"-5", std::nullopt},  {"0", std::nullopt},
        {"92.1 kHz", std::nullopt}, {"2500", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseFrequencyText(c.text), c.expected);
    }
    EXPECT_EQ(frequencyFieldText(92.1), "92.10");
    EXPECT_EQ(frequencyFieldText(118.325), "118.325");
    EXPECT_EQ(frequencyFieldText(1090.0), "1090.00");
    EXPECT_EQ(parseFrequencyText(frequencyFieldText(144.8125)), 144.8125);
}

TEST(ViewMathTest, MeterFractionClampsToTheScale) {
    EXPECT_FLOAT_EQ(meterFraction(-120.0f, -120.0f, -40.0f), 0.0f);
    EXPECT_FLOAT_EQ(meterFraction(-80.0f, -120.0f, -40.0f), 0.5f);
    EXPECT_FLOAT_EQ(meterFraction(-10.0f, -120.0f, -40.0f), 1.0f);
    EXPECT_FLOAT_EQ(meterFraction(-200.0f, -120.0f, -40.0f), 0.0f);
    EXPECT_FLOAT_EQ(meterFraction(0.0f, 5.0f, 5.0f), 0.0f);
}
