#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a simulated DAB multiplex carries, as its multiplexer would be configured. Labels are
// UTF-8 and must fit 16 characters of the EBU Latin set; the transmitter pads with spaces.

enum class DABTxProtection { eepA, uep };

struct DABTxSubchannel {
    int id = 0;        // SubChId, 0..63
    int startCU = 0;   // first capacity unit in the CIF, 0..863
    int sizeCU = 0;    // for UEP this must equal the table's size for uepIndex
    DABTxProtection protection = DABTxProtection::eepA;
    int eepLevel = 3;  // 1..4 for 1-A..4-A
    int uepIndex = 0;  // short-form table index, 0..63
    bool operator==(const DABTxSubchannel&) const = default;
};

// A programme service with one primary DAB+ audio component.
struct DABTxService {
    std::uint16_t sid = 0;
    std::string label;
    int subchannelId = 0;
    bool hasSlideshow = false;  // announces an MOT slideshow in X-PAD (FIG 0/13)
    bool operator==(const DABTxService&) const = default;
};

// A data service with one packet-mode component (a MOT carousel by default).
struct DABTxDataService {
    std::uint32_t sid = 0;
    std::string label;
    int subchannelId = 0;
    int serviceComponentId = 1;  // SCId, 12 bits: links FIG 0/2 to FIG 0/3
    int packetAddress = 1;       // 10 bits
    int dataServiceType = 60;    // DSCTy; 60 = MOT
    bool operator==(const DABTxDataService&) const = default;
};

struct DABTxEnsemble {
    std::string label;
    std::uint16_t eid = 0;
    std::vector<DABTxService> services;
    std::vector<DABTxSubchannel> subchannels;
    std::optional<DABTxDataService> dataService;
    bool operator==(const DABTxEnsemble&) const = default;
};

// n·8 kbit/s for EEP-A (size / CU-per-n of the level), the table's rate for UEP; 0 if invalid.
int dabTxBitrateKbps(const DABTxSubchannel& subchannel);
