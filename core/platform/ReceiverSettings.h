#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "control/DemodMode.h"
#include "control/LevelScale.h"
#include "device/RTLSDRDeviceList.h"

// A TCP feed the receiver can serve: off unless enabled, on its port.
struct FeedEndpointSettings {
    bool enabled = false;
    std::uint16_t port = 0;
    bool operator==(const FeedEndpointSettings&) const = default;
};

// The feeds the receiver can offer to other programs. Ports are the ones their readers look at
// by default (dump1090's SBS and Beast, Direwolf's KISS, hamlib's rigctld).
struct FeedSettings {
    FeedEndpointSettings adsbSBS{.port = 30003};
    FeedEndpointSettings adsbBeast{.port = 30005};
    bool adsbJSONEnabled = false;
    std::string adsbJSONDir{};  // aircraft.json goes here; empty: the documents folder
    FeedEndpointSettings aprsKISS{.port = 8001};
    FeedEndpointSettings rigctl{.port = 4532};
    bool mqttEnabled = false;
    std::string mqttHost = "localhost";
    std::uint16_t mqttPort = 1883;
    std::string mqttReceiverName = "vantirel";
    bool operator==(const FeedSettings&) const = default;
};

// Where the ADS-B map was looking.
struct MapViewSettings {
    double centerLatitudeDeg = 45.815;
    double centerLongitudeDeg = 15.982;
    double zoom = 8.0;
    bool operator==(const MapViewSettings&) const = default;
};

// Everything the window remembers between runs: the radio's settings, what the window showed,
// and the hardware and feed choices that apply at the next start.
struct ReceiverSettings {
    double frequencyMHz = 92.1;
    DemodMode mode = DemodMode::fm;
    bool narrowbandFM = false;
    bool stereoEnabled = false;
    bool agcEnabled = true;
    double manualGainTenthsDB = 300.0;
    int frequencyCorrectionPPM = 0;
    double audioVolume = 0.5;   // 0..1
    double audioBalance = 0.0;  // -1 left .. +1 right
    bool squelchEnabled = false;
    double squelchThresholdDB = kDefaultSquelchThresholdDBFS;
    bool nbEnabled = false;
    double nbThreshold = 4.0;
    bool nrEnabled = false;
    double nrAmount = 0.5;
    bool notchEnabled = false;
    double notchFrequencyHz = 1000.0;
    bool rdsEnabled = true;

    double spectrumSpanMHz = 2.048;
    std::string sidebarSection = "Radio";  // the section's display name
    std::optional<MapViewSettings> mapView{};  // absent: the map follows the aircraft

    DongleChoice dongle{};
    std::string networkDongleAddress{};  // "rtltcp://HOST:PORT"; empty: a USB dongle
    std::string audioOutputDevice{};     // empty: the system's default output
    std::string mapTileURL{};            // empty: the default tile server
    FeedSettings feeds{};
    bool operator==(const ReceiverSettings&) const = default;
};
