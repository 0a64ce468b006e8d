#include "device/RTLSDRDeviceList.h"

#include <rtl-sdr.h>

std::uint32_t resolveDongleIndex(const DongleChoice& choice) {
    if (choice.serial) {
        const int index = rtlsdr_get_index_by_serial(choice.serial->c_str());
        if (index >= 0) return static_cast<std::uint32_t>(index);
    }
    return choice.index.value_or(0);
}

std::vector<RTLSDRDeviceEntry> listRTLSDRDevices() {
    std::vector<RTLSDRDeviceEntry> devices;
    const std::uint32_t count = rtlsdr_get_device_count();
    for (std::uint32_t k = 0; k < count; ++k) {
        RTLSDRDeviceEntry entry{.index = k};
        if (const char* name = rtlsdr_get_device_name(k)) entry.name = name;
        // librtlsdr fills at most 256 bytes per string.
        char manufacturer[256] = {0}, product[256] = {0}, serial[256] = {0};
        if (rtlsdr_get_device_usb_strings(k, manufacturer, product, serial) == 0) entry.serial = serial;
        devices.push_back(std::move(entry));
    }
    return devices;
}
