#include "TuningActions.h"

#include <cmath>

#include "ContentViewState.h"
#include "ViewMath.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"
#include "stations/BandDefinition.h"

int currentModeIndex(const SDRController& c) {
    if (c.mode.get() == DemodMode::am) return 2;
    return c.isNarrowbandFM() ? 1 : 0;
}

void setModeIndex(SDRController& c, int index) {
    c.mode = index == 2 ? DemodMode::am : DemodMode::fm;
    c.setIsNarrowbandFM(index == 1);
}

bool tuneToFrequencyText(SDRController& c, const std::string& text) {
    const std::optional<double> mhz = parseFrequencyText(text);
    if (!mhz) return false;
    c.tune(*mhz, true);
    return true;
}

void selectBand(SDRController& c, ContentViewState& state, const BandDefinition& band) {
    state.activeBandName = band.name;
    state.selectedScanBandName = band.name;
    c.mode = band.suggestedMode;
    c.setIsNarrowbandFM(band.suggestedMode == DemodMode::fm && band.isNarrowbandFM);
    const double f = c.frequencyMHz;
    if (f < band.startMHz || f > band.endMHz) c.tune(band.startMHz, true);
}

std::string frequencyFieldText(double frequencyMHz) {
    std::string text = formatString("%.6f", frequencyMHz);
    // Trim to the last significant digit, but keep two decimals.
    const std::size_t dot = text.find('.');
    while (text.size() > dot + 3 && text.back() == '0') text.pop_back();
    return text;
}
