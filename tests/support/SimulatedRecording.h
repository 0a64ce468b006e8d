#pragma once

#include <filesystem>
#include <memory>

#include "sim/RFScene.h"

// Renders `seconds` of the simulated dongle tuned to `centerHz` (automatic gain, 2,048,000
// samples/s) into an rtl_sdr-style .cu8 file at `path`, with a SigMF sidecar giving its rate
// and centre, so the file source replays it as the dongle would have delivered it.
void writeSimulatedRecording(const std::filesystem::path& path, std::shared_ptr<RFScene> scene,
                             double centerHz, double seconds);
