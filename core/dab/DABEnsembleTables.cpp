#include "dab/DABEnsembleTables.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "dab/DABSynchronizer.h"

namespace {

// EN 300 401 6.2.1, sub-channel sizes for the short form of FIG 0/1: for each 6-bit index,
// size in CU, UEP protection level (1 = strongest) and bit rate in kbit/s.
constexpr std::array<dabtables::UEPEntry, 64> kUEPTable = {{
    {16, 5, 32},   {21, 4, 32},   {24, 3, 32},   {29, 2, 32},   {35, 1, 32},   {24, 5, 48},
    {29, 4, 48},   {35, 3, 48},   {42, 2, 48},   {52, 1, 48},   {29, 5, 56},   {35, 4, 56},
    {42, 3, 56},   {52, 2, 56},   {32, 5, 64},   {42, 4, 64},   {48, 3, 64},   {58, 2, 64},
    {70, 1, 64},   {40, 5, 80},   {52, 4, 80},   {58, 3, 80},   {70, 2, 80},   {84, 1, 80},
    {48, 5, 96},   {58, 4, 96},   {70, 3, 96},   {84, 2, 96},   {104, 1, 96},  {58, 5, 112},
    {70, 4, 112},  {84, 3, 112},  {104, 2, 112}, {64, 5, 128},  {84, 4, 128},  {96, 3, 128},
    {116, 2, 128}, {140, 1, 128}, {80, 5, 160},  {104, 4, 160}, {116, 3, 160}, {140, 2, 160},
    {168, 1, 160}, {96, 5, 192},  {116, 4, 192}, {140, 3, 192}, {168, 2, 192}, {208, 1, 192},
    {116, 5, 224}, {140, 4, 224}, {168, 3, 224}, {208, 2, 224}, {232, 1, 224}, {128, 5, 256},
    {168, 4, 256}, {192, 3, 256}, {232, 2, 256}, {280, 1, 256}, {160, 5, 320}, {208, 4, 320},
    {280, 2, 320}, {192, 5, 384}, {280, 3, 384}, {416, 1, 384},
}};

// EEP code rates by protection field (option A levels 1..4): kbit/s = sizeCU × 8 × f / 3.
constexpr std::array<double, 4> kEEPFactor = {0.25, 0.375, 0.5, 0.75};
// EEP option B levels 1..4: n × 32 kbit/s occupy 27n, 21n, 18n, 15n CU (EN 300 401 6.2.1).
constexpr std::array<int, 4> kEEPBCUPer32k = {27, 21, 18, 15};

constexpr std::size_t kPowerSamples = 65'536;
constexpr std::size_t kSNRBlock = 512;
constexpr float kMaxSNRDB = 40.0f;

bool isPlaceholderLabel(const std::string& label) {
    return label.empty() || label == "Ensemble" || label.starts_with("Ensemble ");
}

float meanPower(std::span<const IQSample> samples) {
    double sum = 0.0;
    for (const IQSample& x : samples) sum += static_cast<double>(x.i) * x.i + static_cast<double>(x.q) * x.q;
    return samples.empty() ? 0.0f : static_cast<float>(sum / static_cast<double>(samples.size()));
}

std::optional<int> linkedBitrate(const DABEnsembleInfo& ensemble, std::uint32_t sid) {
    const auto link = ensemble.serviceLinks.find(sid);
    if (link == ensemble.serviceLinks.end() || !link->second.primarySubchannelId) return std::nullopt;
    const auto sub = ensemble.subchannels.find(*link->second.primarySubchannelId);
    if (sub == ensemble.subchannels.end()) return std::nullopt;
    return dabtables::bitrateKbps(sub->second);
}

}  // namespace

namespace dabtables {

std::optional<UEPEntry> uepEntry(int index) {
    if (index < 0 || index >= static_cast<int>(kUEPTable.size())) return std::nullopt;
    return kUEPTable[static_cast<std::size_t>(index)];
}

int bitrateKbps(const DABSubchannel& subchannel) {
    if (subchannel.isShort) {
        const std::optional<UEPEntry> entry = uepEntry(subchannel.protection);
        return entry ? entry->bitrateKbps : 0;
    }
    if (subchannel.protection >= 4 && subchannel.protection <= 7 && subchannel.sizeCU > 0) {
        const int perUnit = kEEPBCUPer32k[static_cast<std::size_t>(subchannel.protection - 4)];
        if (subchannel.sizeCU % perUnit == 0) return subchannel.sizeCU / perUnit * 32;
    }
    // Sizes that fit no option-B rate exactly fall back to the option-A rates.
    const int level = std::clamp(subchannel.protection, 0, 3);
    return static_cast<int>(std::lround(subchannel.sizeCU * 8.0 * kEEPFactor[static_cast<std::size_t>(level)] / 3.0));
}

DABEnsembleInfo mergeServiceLabels(const std::optional<DABEnsembleInfo>& original,
                                   const DABEnsembleInfo& update) {
    if (!original) return update;
    DABEnsembleInfo merged = *original;
    for (const DABService& service : update.services) {
        const auto known = std::find_if(merged.services.begin(), merged.services.end(),
                                        [&](const DABService& s) { return s.id == service.id; });
        if (known == merged.services.end()) {
            merged.services.push_back(service);
        } else if (known->name.starts_with("SId ") && !service.name.starts_with("SId ")) {
            known->name = service.name;
        }
    }
    if (isPlaceholderLabel(merged.label) && !isPlaceholderLabel(update.label)) merged.label = update.label;
    return merged;
}

std::vector<DABServiceInfo> serviceRows(const DABEnsembleInfo& ensemble) {
    std::vector<DABServiceInfo> rows;
    rows.reserve(ensemble.services.size());
    for (const DABService& s : ensemble.services) rows.push_back({.serviceID = s.id, .label = s.name});
    return rows;
}

std::vector<DABServiceInfo> buildServiceInfos(const DABEnsembleInfo& ensemble,
                                              const std::vector<DABServiceInfo>& rows) {
    std::vector<DABServiceInfo> out;
    out.reserve(rows.size());
    for (const DABServiceInfo& row : rows) {
        out.push_back({.serviceID = row.serviceID,
                       .label = row.label,
                       .bitrateKbps = linkedBitrate(ensemble, row.serviceID).value_or(0)});
    }
    return out;
}

std::vector<DABSubchannelInfo> buildSubchannelInfos(const DABEnsembleInfo& ensemble,
                                                    const std::vector<DABServiceInfo>& rows) {
    std::map<int, std::string> names;
    std::map<int, std::uint32_t> sids;
    std::map<int, bool> audio;
    for (const auto& [sid, link] : ensemble.serviceLinks) {
        if (!link.primarySubchannelId) continue;
        const int sub = *link.primarySubchannelId;
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [&](const DABServiceInfo& r) { return r.serviceID == sid; });
        if (row != rows.end()) names[sub] = row->label;
        else names.erase(sub);
        sids[sub] = sid;
        audio[sub] = link.isAudio;
    }
    std::vector<DABSubchannelInfo> out;
    // std::map iterates by SubChId ascending.
    for (const auto& [id, sub] : ensemble.subchannels) {
        DABSubchannelInfo info{.id = id,
                               .startCU = sub.startCU,
                               .sizeCU = sub.sizeCU,
                               .protection = sub.protection,
                               .isShort = sub.isShort,
                               .bitrateKbps = bitrateKbps(sub)};
        if (const auto n = names.find(id); n != names.end()) info.linkedServiceName = n->second;
        if (const auto s = sids.find(id); s != sids.end()) info.linkedServiceId = s->second;
        if (const auto a = audio.find(id); a != audio.end()) info.linkedIsAudio = a->second;
        out.push_back(std::move(info));
    }
    return out;
}

int parseFICCRCCount(const std::string& status) {
    const std::size_t crc = status.find("CRC ");
    if (crc == std::string::npos) return 0;
    const std::size_t begin = crc + 4;
    const std::size_t slash = status.find("/12", begin);
    if (slash == std::string::npos) return 0;
    std::string_view number(status.data() + begin, slash - begin);
    const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!number.empty() && isSpace(number.front())) number.remove_prefix(1);
    while (!number.empty() && isSpace(number.back())) number.remove_suffix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || number.empty()) return 0;
    return value;
}

float estimateDABSNR(std::span<const IQSample> samples) {
    // OFDM is noise-like in level, so block powers of an ensemble spread no more than those of
    // noise; what sets it apart is the null symbol, silent but for the noise. The depth of the
    // quietest symbol-long window below the mean gives signal over noise.
    if (samples.size() < 4096) return 0.0f;
    const std::optional<DABLockInfo> lock = DABSynchronizer().findNull(samples);
    if (!lock) return 0.0f;
    const double ratio = static_cast<double>(lock->avgPower) / std::max<double>(lock->nullPower, 1e-15) - 1.0;
    if (!(ratio > 0.0)) return 0.0f;
    return std::clamp(10.0f * static_cast<float>(std::log10(ratio)), 0.0f, kMaxSNRDB);
}

float estimatePowerDB(std::span<const IQSample> samples) {
    if (samples.empty()) return -120.0f;
    const float p = meanPower(samples.first(std::min(samples.size(), kPowerSamples)));
    return 10.0f * std::log10(std::max(p, 1e-20f));
}

}  // namespace dabtables
