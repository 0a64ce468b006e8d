#pragma once

#include <string>

struct BandDefinition;
struct ContentViewState;
class SDRController;

// Controller calls shared by several controls, so each behaves the same wherever it sits.

// The window's three-way mode choice: 0 wide-band FM, 1 narrow-band FM, 2 AM.
int currentModeIndex(const SDRController& controller);
void setModeIndex(SDRController& controller, int index);

// Tunes (with the listening offset) to the field's frequency; false when it is not one.
bool tuneToFrequencyText(SDRController& controller, const std::string& text);

// A band shortcut: the band's mode, and its first channel unless already inside it.
void selectBand(SDRController& controller, ContentViewState& state, const BandDefinition& band);

// The frequency field's text for a frequency: two decimals at least, up to six when needed
// ("92.10", "118.325").
std::string frequencyFieldText(double frequencyMHz);
