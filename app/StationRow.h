#pragma once

#include <string>

class UIProbe;

// One row of a station list: a star, the name and a detail line, the frequency on the right.
// `probeName` names the row (and "star " + probeName its star) for the window tests.
struct StationRowResult {
    bool rowClicked = false;
    bool starClicked = false;
    bool removeRequested = false;  // from the row's context menu, when offered
};

struct StationRowInput {
    std::string name{};
    std::string detail{};
    std::string frequencyText{};
    bool selected = false;
    bool starOn = false;
    bool offerRemove = false;
};

StationRowResult drawStationRow(const char* id, const StationRowInput& row, UIProbe& probe,
                                const std::string& probeName);
