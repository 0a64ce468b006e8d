#include "control/SpectrumMath.h"

#include <algorithm>
#include <cmath>

std::vector<float> downsample(std::span<const float> x, std::size_t count) {
    const std::size_t length = x.size();
    if (count >= length) return {x.begin(), x.end()};
    std::vector<float> out(count);
    const double step = static_cast<double>(length) / static_cast<double>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto start = static_cast<std::size_t>(std::floor(step * static_cast<double>(i)));
        std::size_t end = i + 1 == count
                              ? length
                              : static_cast<std::size_t>(std::floor(step * static_cast<double>(i + 1)));
        end = std::min(length, std::max(end, start + 1));
        double sum = 0.0;
        for (std::size_t k = start; k < end; ++k) sum += x[k];
        out[i] = static_cast<float>(sum / static_cast<double>(end - start));
    }
    return out;
}

SpectrumLevels spectrumLevels(std::span<const float> power) {
    SpectrumLevels levels;
    levels.dB.resize(power.size());
    for (std::size_t k = 0; k < power.size(); ++k)
        levels.dB[k] = 10.0f * std::log10(std::max(power[k], 1e-10f));
    float lo = 0.0f, hi = 1.0f;
    if (!levels.dB.empty()) {
        const auto [mn, mx] = std::minmax_element(levels.dB.begin(), levels.dB.end());
        lo = *mn;
        hi = *mx;
        levels.peakDB = hi;
        std::vector<float> sorted = levels.dB;
        const std::size_t at = sorted.size() / 10;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
        levels.floorDB = sorted[at];
    }
    const float range = std::max(hi - lo, 1.0f);
    levels.norm.resize(levels.dB.size());
    for (std::size_t k = 0; k < levels.dB.size(); ++k)
        levels.norm[k] = std::clamp((levels.dB[k] - lo) / range, 0.0f, 1.0f);
    return levels;
}

void smoothTowards(std::vector<float>& s, std::span<const float> row, float alpha) {
    if (s.size() != row.size()) {
        s.assign(row.begin(), row.end());
        return;
    }
    for (std::size_t k = 0; k < s.size(); ++k) s[k] += (row[k] - s[k]) * alpha;
}

float rms(std::span<const float> block) {
    if (block.empty()) return 0.0f;
    double sum = 0.0;
    for (float v : block) sum += static_cast<double>(v) * v;
    return static_cast<float>(std::sqrt(sum / static_cast<double>(block.size())));
}

float strongestInChannelDB(std::span<const float> dB, double halfWidthHz, double sampleRateHz) {
    if (dB.empty()) return -100.0f;
    const double binHz = sampleRateHz / static_cast<double>(dB.size());
    const auto half = static_cast<std::size_t>(std::max(1.0, std::floor(halfWidthHz / binHz)));
    const std::size_t centre = dB.size() / 2;
    const std::size_t first = centre - std::min(centre, half);
    const std::size_t last = std::min(dB.size() - 1, centre + half);
    return *std::max_element(dB.begin() + static_cast<std::ptrdiff_t>(first),
                             dB.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}
