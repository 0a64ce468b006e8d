#pragma once

#include <string>

class SourceSelector;
struct PanelContext;

// Edits of the advanced panel that live until they are applied.
struct AdvancedPanelEdits {
    std::string iqFilePath{};
    std::string sourceError{};
    bool choosingFile = false;  // "IQ file" picked, waiting for a path
    std::string networkAddress{};
    bool choosingNetwork = false;  // "Network dongle" picked, waiting for an address
};

// The advanced panel (shown with isAdvancedMode): "Frequency", "Power", "Gain" ("AGC
// (automatic)" / "Manual"), "Squelch" ("Enabled", "Threshold"), "Filters" with "NOTCH" and
// the noise tools' settings, and the signal source with the PPM correction.
void drawAdvancedPanel(PanelContext& context, SourceSelector& sources, AdvancedPanelEdits& edits);
