#pragma once

#include <cstdint>
#include <vector>

#include "sim/DABTxEnsemble.h"

// Fast information groups (EN 300 401 clauses 5.2, 6 and 8) built from an ensemble description.
// Each FIG is returned whole, header included, and never exceeds a FIB's 30 data bytes; lists
// that would (FIG 0/1, 0/2) are split over several FIGs.
using DABTxFIG = std::vector<std::uint8_t>;

inline constexpr std::size_t kDABTxFIBDataBytes = 30;
inline constexpr int kDABTxCIFCountModulo = 5000;  // 20 × 250

// FIG 0/0, ensemble information: EId and the CIF count (0..4999) of the CIF the FIB belongs to.
DABTxFIG dabTxFIG00(std::uint16_t eid, int cifCount);
// FIG 0/1, sub-channel organisation: long form for EEP-A, short form for UEP.
std::vector<DABTxFIG> dabTxFIG01(const DABTxEnsemble& ensemble);
// FIG 0/2, service organisation: the programme services (16-bit SIds, DAB+ audio) in one list,
// the data service (P/D = 1, 32-bit SId, packet component) in its own FIG.
std::vector<DABTxFIG> dabTxFIG02(const DABTxEnsemble& ensemble);
// FIG 0/3, packet-mode component: SCId to sub-channel, packet address and DSCTy. Empty when
// the ensemble has no data service.
std::vector<DABTxFIG> dabTxFIG03(const DABTxEnsemble& ensemble);
// FIG 0/13, user applications: the MOT slideshow (type 2) in X-PAD application type 12 with
// DSCTy 60 for each programme service that has one. Empty when none has.
std::vector<DABTxFIG> dabTxFIG013(const DABTxEnsemble& ensemble);
// FIG 1/0, 1/1 and 1/5 labels, charset 0, with the short-label character flags.
DABTxFIG dabTxFIG10(std::uint16_t eid, const std::string& label);
DABTxFIG dabTxFIG11(std::uint16_t sid, const std::string& label);
DABTxFIG dabTxFIG15(std::uint32_t sid, const std::string& label);

// The 16 label bytes (charset 0, padded with spaces) and the flags choosing the short label:
// the first up to 8 characters that are not spaces.
std::vector<std::uint8_t> dabTxLabelBytes(const std::string& utf8);
std::uint16_t dabTxShortLabelFlags(const std::vector<std::uint8_t>& labelBytes);
