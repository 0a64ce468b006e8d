#pragma once

#include <optional>
#include <string>
#include <vector>

#include <span>

#include "dab/DABTypes.h"
#include "device/IQSample.h"

// Merging ensembles across frames and the rows the window lists.
namespace dabtables {
DABEnsembleInfo mergeServiceLabels(const std::optional<DABEnsembleInfo>& original,
                                   const DABEnsembleInfo& update);
std::vector<DABServiceInfo> buildServiceInfos(const DABEnsembleInfo& ensemble,
                                              const std::vector<DABServiceInfo>& rows);
std::vector<DABSubchannelInfo> buildSubchannelInfos(const DABEnsembleInfo& ensemble,
                                                    const std::vector<DABServiceInfo>& rows);
// The services of an ensemble as rows (SId, name), before bit rates are filled in.
std::vector<DABServiceInfo> serviceRows(const DABEnsembleInfo& ensemble);
// Bit rate of a sub-channel: EEP from size and protection, short form from the UEP table.
int bitrateKbps(const DABSubchannel& subchannel);
// Short-form UEP table row: size in CU, protection level 1..5, bit rate; absent outside 0..63.
struct UEPEntry {
    int sizeCU = 0;
    int protectionLevel = 0;
    int bitrateKbps = 0;
};
std::optional<UEPEntry> uepEntry(int index);
// Good-FIB count named in a FIC status text ("FIC CRC n/12 ..."), else 0.
int parseFICCRCCount(const std::string& status);
// Peak-to-median block power ratio in dB (0..40) of the first 65,536 samples.
float estimateDABSNR(std::span<const IQSample> samples);
// Mean power in dB of the first 65,536 samples; −120 for an empty block.
float estimatePowerDB(std::span<const IQSample> samples);
}  // namespace dabtables
