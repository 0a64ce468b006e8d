#pragma once

#include <span>
#include <vector>

#include "stations/BandDefinition.h"
#include "stations/StationRecords.h"

// Favourites of one band, for the favourites panel.
struct FavoriteGroup {
    BandDefinition band;
    std::vector<RadioStation> stations{};
    bool operator==(const FavoriteGroup&) const = default;
};

// The name of the group for favourites that lie in no band, so none is hidden.
inline constexpr const char* kOtherBandName = "Other";

// The narrowest band whose range holds the frequency (ends included), so 433.92 MHz is
// "70cm Amateur" rather than the wider "UHF"; nullptr outside every band.
const BandDefinition* bandContaining(double frequencyMHz, std::span<const BandDefinition> bands);

// Favourites grouped by band: groups in the order of `bands`, then "Other"; stations by
// frequency inside a group; bands without favourites are left out.
std::vector<FavoriteGroup> favoriteGroups(std::span<const RadioStation> stations,
                                          std::span<const BandDefinition> bands);

// The frequency on the channel raster of its band (the band's step from its start), or on
// the 100 kHz raster outside every band; never below 0. The knob's double-click uses it.
double snapToChannelMHz(double frequencyMHz, std::span<const BandDefinition> bands);
