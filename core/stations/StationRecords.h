#pragma once

#include <string>

#include "platform/UUID.h"

// A station found by the band scan.
struct FoundStation {
    UUID id = UUID::random();
    double frequencyMHz = 0.0;
    std::string label;  // RDS name or a generated label; renamed when RDS arrives later
    float peakDB = 0.0f;
    bool operator==(const FoundStation&) const = default;
};

// A saved station (bookmark); favourites are flagged, not kept apart.
struct RadioStation {
    UUID id = UUID::random();
    std::string name;
    double frequencyMHz = 0.0;
    bool isFavorite = false;
    bool operator==(const RadioStation&) const = default;
};
