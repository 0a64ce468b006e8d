#pragma once

#include <optional>
#include <string>

class UIProbe;

// The DAB streaming view's top strip: the channel frequency and mode, the ensemble's label
// and status, the lock state ("ACQUIRING" until the ensemble is acquired), the PRS
// correlation, the carrier offset and the FIC CRC count of the last frame, and the signal
// meter. Main thread, stateless.
struct DABHeaderInput {
    double frequencyMHz = 0.0;
    std::string ensembleLabel{};
    std::string statusText{};
    float snrDB = 0.0f;
    float signalLevelDB = -100.0f;  // dBFS
    int serviceCount = 0;
    bool locked = false;
    float prsCorrelation = 0.0f;  // 0…1
    int ficCRCCount = 0;          // of the 12 FIBs in a frame
    double cfoHz = 0.0;
    std::string mode = "DAB+";
    std::optional<int> bitRateKbps{};
    std::optional<std::string> ensembleIdHex{};  // "2C01"
};

void drawDABHeaderView(const DABHeaderInput& input, UIProbe& probe);
