#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// One channel of the Band III raster (ETSI EN 300 401 Annex B).
struct DABChannel {
    std::string id;  // the channel name, identical to label
    std::string label;
    double frequencyMHz = 0.0;
    bool operator==(const DABChannel&) const = default;

    // The 38 channels 5A..13F in scan order.
    static const std::vector<DABChannel>& bandIII();
};

struct DABScanResult {
    DABChannel channel;
    float strengthDB = 0.0f;
    float snrEstimate = 0.0f;
    const std::string& id() const { return channel.id; }
    bool hasSignal() const { return snrEstimate > 3.0f; }
    bool operator==(const DABScanResult&) const = default;
};

struct DABService {
    std::uint32_t id = 0;
    std::string name;
    bool isAudio = false;
    bool operator==(const DABService&) const = default;
};

struct DABSubchannel {
    int id = 0;
    int startCU = 0;
    int sizeCU = 0;
    int protection = 0;
    bool isShort = false;
    bool operator==(const DABSubchannel&) const = default;
};

struct DABServiceLink {
    std::uint32_t serviceId = 0;
    std::optional<int> primarySubchannelId;
    bool isAudio = false;
    // The primary component's audio type when it is a stream audio component (63: DAB+).
    std::optional<int> audioComponentType;
    bool operator==(const DABServiceLink&) const = default;
};

struct DABEnsembleInfo {
    std::string label;
    std::uint16_t ensembleId = 0;
    std::vector<DABService> services;
    std::map<int, DABSubchannel> subchannels;
    std::map<std::uint32_t, DABServiceLink> serviceLinks;
    bool operator==(const DABEnsembleInfo&) const = default;
};

struct DABServiceInfo {
    std::uint32_t serviceID = 0;
    std::string label;
    int bitrateKbps = 0;
    bool operator==(const DABServiceInfo&) const = default;
};

struct DABSubchannelInfo {
    int id = 0;
    int startCU = 0;
    int sizeCU = 0;
    int protection = 0;
    bool isShort = false;
    int bitrateKbps = 0;
    std::optional<std::string> linkedServiceName;
    std::optional<std::uint32_t> linkedServiceId;
    std::optional<bool> linkedIsAudio;
    bool operator==(const DABSubchannelInfo&) const = default;
};

struct DABConstellationPoint {
    float re = 0.0f;
    float im = 0.0f;
    bool operator==(const DABConstellationPoint&) const = default;
};

// Result of the null-symbol search.
struct DABLockInfo {
    int nullIndex = 0;
    float nullPower = 0.0f;
    float avgPower = 0.0f;
    float nullDepthDB = 0.0f;
    bool locked = false;
    bool operator==(const DABLockInfo&) const = default;
};

// The DAB+ audio parameters of the current service (superframe header flags).
struct DabAudioFormat {
    bool dac = false;
    bool sbr = false;
    bool mono = false;
    bool ps = false;  // parametric stereo: a mono core that plays as stereo
    bool operator==(const DabAudioFormat&) const = default;
};
