#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The window's small conversions: display span cropping, tap and knob arithmetic, the dB
// scale and the waterfall colour ramp. Pure functions, no ImGui.

// The dongle's full display width: 2,048,000 samples/s of complex baseband.
inline constexpr double kFullSpanMHz = 2.048;
inline constexpr std::array<double, 2> kDABSpanOptionsMHz = {2.048, 1.536};
// Width of the spectrum's dB scale; taps left of it belong to the scale, not the plot.
inline constexpr float kSpectrumScaleWidth = 22.0f;

struct BinRange {
    std::size_t first = 0;
    std::size_t count = 0;
    bool operator==(const BinRange&) const = default;
};

// The centred bins of an n-bin row that a span shows: k = min(n, floor(s / 2.048 × n)), at
// least 1, starting at (n − k) / 2. Spans above 2.048 MHz show the whole row.
BinRange spanCrop(std::size_t binCount, double spanMHz);
std::vector<float> cropRow(std::span<const float> row, double spanMHz);
// A fraction of the full row (the controller's marker position) as a fraction of the cropped
// row; absent when it falls outside the span.
std::optional<double> croppedFraction(double fullFraction, std::size_t binCount, double spanMHz);

// Horizontal tap position (from the view's left edge) to a plot fraction in 0…1.
double tapFraction(double x, double leftScaleWidth, double plotWidth);
// The frequency under `fraction` of a span centred on `centerMHz`.
double frequencyAtFraction(double centerMHz, double spanMHz, double fraction);

// Five labels from the top value to the bottom one: t − i × 0.25 × (t − b), "%.0f".
std::array<std::string, 5> verticalScaleLabels(float topDB, float bottomDB);

// Tuning knob. Option (Alt on Linux) is tested before Shift.
struct KnobModifiers {
    bool option = false;
    bool shift = false;
};
inline constexpr double kKnobDragHzPerPixel = 0.25 * 10'000.0;
// How far the knob picture turns: per button press, per scroll event, per dragged pixel.
inline constexpr double kKnobButtonDegrees = 5.0;
inline constexpr double kKnobScrollDegrees = 15.0;
inline constexpr double kKnobDragDegreesPerPixel = 1.5;
double scrollStepHz(double scrollDeltaY, KnobModifiers modifiers);
double dragStepHz(double deltaPixels, KnobModifiers modifiers);
// max(0, current + change / 1e6), the receiver's continuous-tuning rule.
double adjustedFrequencyMHz(double currentMHz, double changeHz);
// Keeps the knob picture's angle bounded: beyond ±100,000 degrees it is reduced modulo 360.
double wrapRotation(double degrees);

struct RGB8 {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const RGB8&) const = default;
};
// The waterfall ramp: black through blue, cyan, green, yellow, orange and red to white.
RGB8 waterfallColour(float value);
// One opaque RGBA8 image: one row per history row (newest first) and one pixel per cropped
// bin. Rows shorter than the widest are padded with the ramp's zero colour.
struct WaterfallImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba{};
};
WaterfallImage waterfallImage(std::span<const std::vector<float>> history, double spanMHz);

// The frequency field: "92.1", "92,10" or "92.1 MHz"; absent for anything that is not a
// positive frequency the dongle could tune (at most 2,000 MHz).
std::optional<double> parseFrequencyText(std::string_view text);
// Signal level to a 0…1 meter position between minDB and maxDB.
float meterFraction(float levelDB, float minDB, float maxDB);
