#pragma once

#include <string>
#include <vector>

#include "control/DemodMode.h"

// A band the user can pick and scan.
struct BandDefinition {
    std::string name;
    double startMHz = 0.0;
    double endMHz = 0.0;
    double stepHz = 0.0;
    DemodMode suggestedMode = DemodMode::fm;
    std::string icon;
    bool isNarrowbandFM = false;
    bool operator==(const BandDefinition&) const = default;

    // The 12 bands, LW first, PMR446 last.
    static const std::vector<BandDefinition>& allBands();
    // "FM Broadcast".
    static const BandDefinition& fmBand();
};
