#include "ViewMath.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "platform/DebugLog.h"

BinRange spanCrop(std::size_t binCount, double spanMHz) {
    if (binCount == 0) return {};
    const double span = std::clamp(spanMHz, 0.0, kFullSpanMHz);
    const auto wanted = static_cast<std::size_t>(std::floor(span / kFullSpanMHz * binCount));
    const std::size_t k = std::max<std::size_t>(1, std::min(binCount, wanted));
    return {.first = (binCount - k) / 2, .count = k};
}

std::vector<float> cropRow(std::span<const float> row, double spanMHz) {
    const BinRange r = spanCrop(row.size(), spanMHz);
    return {row.begin() + static_cast<std::ptrdiff_t>(r.first),
            row.begin() + static_cast<std::ptrdiff_t>(r.first + r.count)};
}

std::optional<double> croppedFraction(double fullFraction, std::size_t binCount, double spanMHz) {
    if (binCount == 0) return fullFraction;
    const BinRange r = spanCrop(binCount, spanMHz);
    const double f = (fullFraction * binCount - r.first) / r.count;
    if (f < 0.0 || f > 1.0) return std::nullopt;
    return f;
}

double tapFraction(double x, double leftScaleWidth, double plotWidth) {
    if (!(plotWidth > 0.0)) return 0.5;
    return std::clamp((x - leftScaleWidth) / plotWidth, 0.0, 1.0);
}

double frequencyAtFraction(double centerMHz, double spanMHz, double fraction) {
    const double span = std::clamp(spanMHz, 0.0, kFullSpanMHz);
    return centerMHz - span / 2.0 + std::clamp(fraction, 0.0, 1.0) * span;
}

std::array<std::string, 5> verticalScaleLabels(float topDB, float bottomDB) {
    std::array<std::string, 5> labels;
    for (int i = 0; i < 5; ++i) {
        const float value = topDB - static_cast<float>(i) * 0.25f * (topDB - bottomDB);
        std::string text = formatString("%.0f", value);
        if (text == "-0") text = "0";  // small negatives print as "-0"
        labels[static_cast<std::size_t>(i)] = std::move(text);
    }
    return labels;
}

double scrollStepHz(double scrollDeltaY, KnobModifiers modifiers) {
    double step = 100'000.0;
    if (modifiers.option)
        step = 10'000.0;
    else if (modifiers.shift)
        step = 1'000'000.0;
    return scrollDeltaY > 0.0 ? step : -step;
}

double dragStepHz(double deltaPixels, KnobModifiers modifiers) {
    double perPixel = kKnobDragHzPerPixel;
    if (modifiers.option)
        perPixel = 0.25 * 1'000.0;
    else if (modifiers.shift)
        perPixel = 0.25 * 100'000.0;
    return deltaPixels * perPixel;
}

double adjustedFrequencyMHz(double currentMHz, double changeHz) {
    return std::max(0.0, currentMHz + changeHz / 1'000'000.0);
}

double wrapRotation(double degrees) {
    if (std::abs(degrees) > 100'000.0) return std::fmod(degrees, 360.0);
    return degrees;
}

namespace {

struct RampStop {
    float position;
    float r, g, b;
};

constexpr std::array<RampStop, 9> kRamp = {{
    {0.00f, 0.00f, 0.00f, 0.00f},
    {0.15f, 0.00f, 0.00f, 0.35f},
    {0.30f, 0.00f, 0.00f, 0.85f},
    {0.45f, 0.00f, 0.55f, 0.85f},
    {0.55f, 0.00f, 0.75f, 0.30f},
    {0.68f, 0.85f, 0.85f, 0.00f},
    {0.78f, 0.95f, 0.55f, 0.00f},
    {0.90f, 0.90f, 0.10f, 0.10f},
    {1.00f, 1.00f, 1.00f, 1.00f},
}};

std::uint8_t toByte(float channel) {
    return static_cast<std::uint8_t>(std::clamp(channel * 255.0f, 0.0f, 255.0f));
}

}  // namespace

RGB8 waterfallColour(float value) {
    const float v = std::clamp(value, 0.0f, 1.0f);
    for (std::size_t k = 0; k + 1 < kRamp.size(); ++k) {
        const RampStop& a = kRamp[k];
        const RampStop& b = kRamp[k + 1];
        if (v >= a.position && v <= b.position) {
            const float t = (v - a.position) / (b.position - a.position);
            return {toByte(a.r + (b.r - a.r) * t), toByte(a.g + (b.g - a.g) * t),
                    toByte(a.b + (b.b - a.b) * t)};
        }
    }
    return {255, 255, 255};  // NaN matches no segment
}

WaterfallImage waterfallImage(std::span<const std::vector<float>> history, double spanMHz) {
    std::size_t widest = 0;
    for (const std::vector<float>& row : history) widest = std::max(widest, row.size());
    const BinRange columns = spanCrop(widest, spanMHz);
    WaterfallImage image{.width = static_cast<int>(columns.count),
                         .height = static_cast<int>(history.size())};
    std::vector<std::uint8_t>& pixels = image.rgba;
    pixels.resize(columns.count * history.size() * 4);
    const RGB8 empty = waterfallColour(0.0f);
    std::size_t o = 0;
    for (const std::vector<float>& row : history) {
        const BinRange r = spanCrop(row.size(), spanMHz);
        for (std::size_t x = 0; x < columns.count; ++x) {
            const RGB8 c = x < r.count ? waterfallColour(row[r.first + x]) : empty;
            pixels[o++] = c.r;
            pixels[o++] = c.g;
            pixels[o++] = c.b;
            pixels[o++] = 255;
        }
    }
    return image;
}

std::optional<double> parseFrequencyText(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), ',', '.');
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    s.erase(0, first);
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (end == s.c_str()) return std::nullopt;
    std::string rest(end);
    rest.erase(std::remove_if(rest.begin(), rest.end(), [](unsigned char c) { return std::isspace(c); }),
               rest.end());
    std::transform(rest.begin(), rest.end(), rest.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!rest.empty() && rest != "mhz") return std::nullopt;
    if (!std::isfinite(value) || value <= 0.0 || value > 2'000.0) return std::nullopt;
    return value;
}

float meterFraction(float levelDB, float minDB, float maxDB) {
    if (!(maxDB > minDB)) return 0.0f;
    return std::clamp((levelDB - minDB) / (maxDB - minDB), 0.0f, 1.0f);
}
