#include "stations/BandDefinition.h"

#include <algorithm>

const std::vector<BandDefinition>& BandDefinition::allBands() {
    static const std::vector<BandDefinition> bands = {
        {"LW", 0.1485, 0.2835, 9'000, DemodMode::am, "waveform", false},
        {"MW / AM", 0.531, 1.602, 9'000, DemodMode::am, "waveform", false},
        {"HF / SW", 3.0, 30.0, 5'000, DemodMode::am, "waveform", false},
        {"VHF Low", 30.0, 88.0, 25'000, DemodMode::fm, "antenna.radiowaves.left.and.right", true},
        {"FM Broadcast", 87.5, 108.0, 100'000, DemodMode::fm, "dot.radiowaves.left.and.right", false},
        {"VHF Air", 108.0, 137.0, 25'000, DemodMode::am, "airplane", false},
        {"2m Amateur", 144.0, 146.0, 12'500, DemodMode::fm, "antenna.radiowaves.left.and.right", true},
        {"DAB+", 174.0, 240.0, 1'000'000, DemodMode::fm, "antenna.radiowaves.left.and.right", false},
        {"VHF Marine", 156.0, 174.0, 25'000, DemodMode::fm, "sailboat", true},
        {"UHF", 400.0, 470.0, 25'000, DemodMode::fm, "antenna.radiowaves.left.and.right", true},
        {"70cm Amateur", 430.0, 440.0, 12'500, DemodMode::fm, "antenna.radiowaves.left.and.right", true},
        {"PMR446", 446.0, 446.2, 12'500, DemodMode::fm, "walkie.talkie", true},
    };
    return bands;
}

const BandDefinition& BandDefinition::fmBand() {
    const auto& bands = allBands();
    return *std::find_if(bands.begin(), bands.end(),
                         [](const BandDefinition& b) { return b.name == "FM Broadcast"; });
}
