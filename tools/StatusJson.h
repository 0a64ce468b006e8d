#pragma once

#include <nlohmann/json.hpp>

class SDRController;

// The controller's published state as JSON, keyed by the property names. Large display
// arrays (spectrum, waterfall, audio spectrum and waveform) are left out.
nlohmann::json controllerStatusJSON(const SDRController& controller);
