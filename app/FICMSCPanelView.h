#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "dab/DABTypes.h"

class UIProbe;

// The stream's inner figures: the CIF counter, decoded superframes, the Reed–Solomon hunt's
// miss streak and the FIC CRC count, then one row per sub-channel (id, start, size in CU,
// protection, rate and service), the selected service's row lit. Main thread, stateless.
struct FICMSCInput {
    int cifCounter = 0;
    int superframeCount = 0;
    int rsHuntMissStreak = 0;
    int ficCRCCount = 0;
    std::span<const DABSubchannelInfo> subchannels{};
    std::optional<std::uint32_t> selectedServiceId{};
};

void drawFICMSCPanelView(const FICMSCInput& input, UIProbe& probe);
