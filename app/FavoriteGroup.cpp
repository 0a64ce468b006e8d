#include "FavoriteGroup.h"

#include <algorithm>
#include <cmath>

const BandDefinition* bandContaining(double frequencyMHz, std::span<const BandDefinition> bands) {
    const BandDefinition* best = nullptr;
    for (const BandDefinition& b : bands) {
        if (frequencyMHz < b.startMHz || frequencyMHz > b.endMHz) continue;
        if (best == nullptr || b.endMHz - b.startMHz < best->endMHz - best->startMHz) best = &b;
    }
    return best;
}

std::vector<FavoriteGroup> favoriteGroups(std::span<const RadioStation> stations,
                                          std::span<const BandDefinition> bands) {
    std::vector<FavoriteGroup> groups(bands.size() + 1);
    for (std::size_t k = 0; k < bands.size(); ++k) groups[k].band = bands[k];
    groups.back().band.name = kOtherBandName;
    for (const RadioStation& s : stations) {
        if (!s.isFavorite) continue;
        const BandDefinition* band = bandContaining(s.frequencyMHz, bands);
        const std::size_t index =
            band ? static_cast<std::size_t>(band - bands.data()) : bands.size();
        groups[index].stations.push_back(s);
    }
    std::erase_if(groups, [](const FavoriteGroup& g) { return g.stations.empty(); });
    for (FavoriteGroup& g : groups)
        std::stable_sort(g.stations.begin(), g.stations.end(),
                         [](const RadioStation& a, const RadioStation& b) {
                             return a.frequencyMHz < b.frequencyMHz;
                         });
    return groups;
}

double snapToChannelMHz(double frequencyMHz, std::span<const BandDefinition> bands) {
    double originMHz = 0.0, stepMHz = 0.1;
    if (const BandDefinition* band = bandContaining(frequencyMHz, bands); band && band->stepHz > 0) {
        originMHz = band->startMHz;
        stepMHz = band->stepHz / 1e6;
    }
    const double steps = std::round((frequencyMHz - originMHz) / stepMHz);
    // Rounded to 1 Hz so 87.5 + 46 × 0.1 shows as 92.1, not 92.09999999.
    const double snapped = std::round((originMHz + steps * stepMHz) * 1e6) / 1e6;
    return std::max(0.0, snapped);
}
