#include "dab/DABPacketStreamReader.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/DebugLog.h"

namespace {
constexpr int kProbeReach = 6;  // bytes either side tried by the alignment diagnostic
constexpr int kProbeSummaryAfter = 14;
}  // namespace

DABPacketStreamReader::DABPacketStreamReader(std::size_t maxBuffer) : maxBuffer(maxBuffer) {}

void DABPacketStreamReader::reset() {
    buffer.clear();
    shifts.clear();
    noneFound = 0;
    diagCount = 0;
}

bool DABPacketStreamReader::isAlignmentProbe(const DABPacket& p) {
    return p.address == 1 && p.lengthCode == DABPacket::LengthCode::b48 && p.usefulDataLength == 43;
}

std::vector<DABPacket> DABPacketStreamReader::append(std::span<const std::uint8_t> bytes) {
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    if (buffer.size() > maxBuffer) {
        buffer.erase(buffer.begin(), buffer.end() - static_cast<std::ptrdiff_t>(maxBuffer));
    }

    std::vector<DABPacket> out;
    std::size_t p = 0;
    const std::span<const std::uint8_t> all(buffer);
    while (buffer.size() - p >= DABPacket::kHeaderBytes + DABPacket::kCRCBytes) {
        const std::size_t L = DABPacket::lengthOf(buffer[p]);
        if (buffer.size() - p < L) break;
        std::optional<DABPacket> packet = DABPacket::parse(all.subspan(p));
        if (!packet) {
            ++p;
            continue;
        }
        const bool probe = isAlignmentProbe(*packet);
        if (probe) probeAlignment(p);
        if (packet->crcOK || probe) {
            out.push_back(std::move(*packet));
            p += L;
        } else {
            ++p;
        }
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(p));
    return out;
}

void DABPacketStreamReader::probeAlignment(std::size_t p) {
    constexpr std::size_t kLength = 48;
    const std::span<const std::uint8_t> all(buffer);
    bool found = false;
    for (int shift = -kProbeReach; shift <= kProbeReach && !found; ++shift) {
        if (shift == 0) continue;
        const auto at = static_cast<std::ptrdiff_t>(p) + shift;
        if (at < 0 || static_cast<std::size_t>(at) + kLength > buffer.size()) continue;
        const auto candidate = DABPacket::parse(all.subspan(static_cast<std::size_t>(at), kLength));
        if (candidate && candidate->lengthBytes() == kLength && candidate->crcOK) {
            ++shifts[shift];
            found = true;
        }
    }
    if (!found) ++noneFound;
    if (++diagCount <= kProbeSummaryAfter) return;

    std::vector<std::pair<int, int>> ranked(shifts.begin(), shifts.end());
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string top;
    for (std::size_t i = 0; i < ranked.size() && i < 3; ++i) {
        if (i > 0) top += ", ";
        top += std::to_string(ranked[i].first) + ":" + std::to_string(ranked[i].second);
    }
    DebugLog::writef("🔍 ALIGN SUMMARY (n=%d): top pomaci [%s] · nijedan=%d", diagCount, top.c_str(),
                     noneFound);
    shifts.clear();
    noneFound = 0;
    diagCount = 0;
}
