#pragma once

#include "platform/ReceiverSettings.h"

class SDRController;

// Copies the radio part of the remembered settings into the controller through its setters,
// so a running receiver takes them as if the user had moved the controls. Main thread.
void applySettings(SDRController& controller, const ReceiverSettings& settings);

// `base` with its radio part replaced by the controller's current values; the window and
// hardware parts stay as in `base`. Main thread.
ReceiverSettings captureSettings(const SDRController& controller, ReceiverSettings base);
