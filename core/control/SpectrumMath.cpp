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

SpectrumLevels spectrumLevels(std::span<const float> power, const SpectrumLevelsConfig& config) {
    SpectrumLevels levels;
    levels.dB.resize(power.size());
    // The one place the FFT's size and window gain leave the levels.
    const double reference = config.fullScaleBinPower > 0.0 ? config.fullScaleBinPower : 1.0;
    for (std::size_t k = 0; k < power.size(); ++k) {
        const double p = static_cast<double>(power[k]) / reference;
        levels.dB[k] = p > 0.0 ? std::max(static_cast<float>(10.0 * std::log10(p)), kMinLevelDBFS)
                               : kMinLevelDBFS;
    }
    float lo = 0.0f, hi = 1.0f;
    if (!levels.dB.empty()) {
        const auto [mn, mx] = std::minmax_element(levels.dB.begin(), levels.dB.end());
        lo = *mn;
        hi = *mx;
        levels.peakDB = hi;
        std::vector<float> sorted = levels.dB;
        const std::size_t at = sorted.size() / 10;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
        // The 10th percentile ignores the stations in view; scaled up to the noise's mean so an
        // empty channel's level and the floor meet.
        levels.floorDB = sorted[at] + noiseTenthPercentileToMeanDB(config.averagedSegments);
    }
    if (config.normRange) {
        lo = config.normRange->bottomDB;
        hi = config.normRange->topDB;
    }
    const float range = std::max(hi - lo, 1.0f);
    levels.norm.resize(levels.dB.size());
    for (std::size_t k = 0; k < levels.dB.size(); ++k)
        levels.norm[k] = std::clamp((levels.dB[k] - lo) / range, 0.0f, 1.0f);
    return levels;
}

float noiseTenthPercentileToMeanDB(std::size_t segments) {
    // The mean of k unit-mean exponentials is gamma(k) / k; its CDF for whole k is
    // 1 - e^-x sum_{j<k} x^j / j! at x = k * value. Bisect for the 10th percentile.
    const std::size_t k = std::max<std::size_t>(segments, 1);
    const auto cdf = [k](double x) {
        // Terms in logs: x^j / j! overflows long before k gets large. log j! is summed rather
        // than taken from lgamma, which writes a global and so races with other threads.
        double upper = 0.0;
        double logFactorial = 0.0;
        for (std::size_t j = 0; j < k; ++j) {
            const auto jd = static_cast<double>(j);
            if (j > 0) logFactorial += std::log(jd);
            upper += std::exp(jd * std::log(x) - logFactorial - x);
        }
        return 1.0 - upper;
    };
    double low = 0.0, high = static_cast<double>(k) + 10.0;
    for (int step = 0; step < 60; ++step) {
        const double mid = (low + high) / 2.0;
        (cdf(mid) < 0.1 ? low : high) = mid;
    }
    return static_cast<float>(10.0 * std::log10(static_cast<double>(k) / low));
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
    if (dB.empty()) return kMinLevelDBFS;
    const double binHz = sampleRateHz / static_cast<double>(dB.size());
    const auto half = static_cast<std::size_t>(std::max(1.0, std::floor(halfWidthHz / binHz)));
    const std::size_t centre = dB.size() / 2;
    const std::size_t first = centre - std::min(centre, half);
    const std::size_t last = std::min(dB.size() - 1, centre + half);
    return *std::max_element(dB.begin() + static_cast<std::ptrdiff_t>(first),
                             dB.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}
