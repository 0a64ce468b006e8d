#include "DABViewMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

std::vector<std::size_t> shownDABChannels(std::span<const DABScanResult> results, bool showAll) {
    std::vector<std::size_t> rows(results.size());
    std::iota(rows.begin(), rows.end(), std::size_t{0});
    if (showAll) return rows;
    std::vector<std::size_t> withSignal;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(withSignal),
                 [&](std::size_t k) { return results[k].hasSignal(); });
    if (!withSignal.empty()) return withSignal;
    // Strongest first, then back into band order so the list reads like the band.
    std::stable_sort(rows.begin(), rows.end(),
                     [&](std::size_t a, std::size_t b) { return results[a].strengthDB > results[b].strengthDB; });
    rows.resize(std::min(rows.size(), kFewestDABChannels));
    std::sort(rows.begin(), rows.end());
    return rows;
}

ConstellationStats constellationStats(std::span<const DABConstellationPoint> points) {
    ConstellationStats stats{.count = points.size()};
    if (points.empty()) return stats;
    double power = 0.0, squaredDeviation = 0.0;
    constexpr double kQuarter = std::numbers::pi / 2;
    for (const DABConstellationPoint& p : points) {
        power += static_cast<double>(p.re) * p.re + static_cast<double>(p.im) * p.im;
        // Distance from the nearest odd multiple of 45°: shift by 45° and fold into ±45°.
        const double phase = std::atan2(p.im, p.re) - kQuarter / 2;
        const double deviation = phase - kQuarter * std::round(phase / kQuarter);
        squaredDeviation += deviation * deviation;
    }
    const double n = static_cast<double>(points.size());
    stats.rmsRadius = static_cast<float>(std::sqrt(power / n));
    stats.spreadDeg = static_cast<float>(std::sqrt(squaredDeviation / n) * 180.0 / std::numbers::pi);
    return stats;
}

std::optional<std::string> dlPlusLine(const std::optional<std::string>& artist,
                                      const std::optional<std::string>& title) {
    const bool hasArtist = artist && !artist->empty();
    const bool hasTitle = title && !title->empty();
    if (hasArtist && hasTitle) return *artist + " – " + *title;
    if (hasArtist) return *artist;
    if (hasTitle) return *title;
    return std::nullopt;
}

PictureFit fitPicture(int pictureWidth, int pictureHeight, float boxWidth, float boxHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || !(boxWidth > 0.0f) || !(boxHeight > 0.0f)) return {};
    const float scale = std::min(boxWidth / static_cast<float>(pictureWidth), boxHeight / static_cast<float>(pictureHeight));
    return {.width = static_cast<float>(pictureWidth) * scale, .height = static_cast<float>(pictureHeight) * scale};
}

bool isDABLocked(const std::string& ensembleLabel, int ficCRCCount) {
    return !ensembleLabel.empty() && ficCRCCount > 0;
}
