#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One RTL-SDR dongle attached over USB, as librtlsdr describes it.
struct RTLSDRDeviceEntry {
    std::uint32_t index = 0;
    std::string name{};    // "Generic RTL2832U OEM"
    std::string serial{};  // empty when the dongle's EEPROM has none
    bool operator==(const RTLSDRDeviceEntry&) const = default;
};

// Which dongle to open: by serial when known (it survives replugging), else by index; neither:
// the first.
struct DongleChoice {
    std::optional<std::uint32_t> index{};
    std::optional<std::string> serial{};
    bool operator==(const DongleChoice&) const = default;
};

// The librtlsdr index of the chosen dongle among those attached now: the serial's, else the
// index, else 0. A serial not attached falls back to the index.
std::uint32_t resolveDongleIndex(const DongleChoice& choice);

// The dongles librtlsdr sees now. Walks the USB bus: call it when a list is shown, not per frame.
std::vector<RTLSDRDeviceEntry> listRTLSDRDevices();
