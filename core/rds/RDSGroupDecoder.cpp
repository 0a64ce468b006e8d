#include "rds/RDSGroupDecoder.h"

#include <algorithm>

#include "platform/DebugLog.h"

namespace {

constexpr std::uint64_t kBitsPerSecond = 1188;  // 1187.5 bit/s, rounded for the statistics tick
constexpr double kBitRateHz = 1187.5;
// Out of sync this long (~5 s) and the PI must be confirmed again: a fade keeps the station,
// a longer gap may be a retune the owner did not report.
constexpr std::uint64_t kForgetPIAfterBits = 5 * kBitsPerSecond;

}  // namespace

RDSGroupDecoder::RDSGroupDecoder(Options options)
    : blockSync({.errorCorrection = options.errorCorrection}) {
    resetLocked();
}

void RDSGroupDecoder::reset() {
    std::lock_guard guard(mutex);
    resetLocked();
}

void RDSGroupDecoder::resetLocked() {
    blockSync.reset();
    piConfirmation.forget();
    state.reset();
    bitsOutOfSync = 0;
}

RDSProgrammeInfo RDSGroupDecoder::programme() {
    std::lock_guard guard(mutex);
    return state.info();
}

RDSGroupStatistics RDSGroupDecoder::statistics() {
    std::lock_guard guard(mutex);
    return statisticsLocked();
}

RDSGroupDecoder::Snapshot RDSGroupDecoder::snapshotNow() const {
    const RDSBlockSync::Counters& c = blockSync.counters();
    return {.bits = bits,
            .groups = groups.load(std::memory_order_relaxed),
            .blocksInSync = c.blocksInSync,
            .blocksLost = c.blocksLost};
}

// Rates over the signal time since the oldest kept snapshot (up to five seconds).
RDSGroupStatistics RDSGroupDecoder::statisticsLocked() const {
    const Snapshot now = snapshotNow();
    const Snapshot oldest = snapshotCount > 0 ? snapshots[0] : Snapshot{};
    const double seconds = static_cast<double>(now.bits - oldest.bits) / kBitRateHz;
    const std::uint64_t blocks = now.blocksInSync - oldest.blocksInSync;
    const RDSBlockSync::Counters& c = blockSync.counters();
    return {.groupsPerSecond =
                seconds > 0.0 ? static_cast<double>(now.groups - oldest.groups) / seconds : 0.0,
            .blockErrorRate =
                blocks > 0 ? static_cast<double>(now.blocksLost - oldest.blocksLost) / blocks : 0.0,
            .groups = now.groups,
            .blocksCorrected = c.blocksCorrected,
            .blocksLost = c.blocksLost,
            .synced = blockSync.isSynced()};
}

void RDSGroupDecoder::processBit(int bit) {
    std::lock_guard guard(mutex);
    ++bits;
    const std::optional<RDSRawGroup> group = blockSync.processBit(bit);
    if (blockSync.isSynced()) {
        bitsOutOfSync = 0;
    } else if (++bitsOutOfSync == kForgetPIAfterBits) {
        piConfirmation.forget();
    }
    if (group) processGroup(*group);

    if (bits % kBitsPerSecond != 0) return;
    if (snapshotCount == static_cast<int>(snapshots.size())) {
        std::move(snapshots.begin() + 1, snapshots.end(), snapshots.begin());
        --snapshotCount;
    }
    snapshots[snapshotCount++] = snapshotNow();
    if (onStatistics) onStatistics(statisticsLocked());
}

// PI from block A, or from block C' of a version-B group when A was lost; a group whose
// two PI copies disagree, or without block B, tells nothing reliable.
void RDSGroupDecoder::processGroup(const RDSRawGroup& group) {
    if (!group.received[1]) return;
    const bool versionB = (group.blocks[1] >> 11) & 1U;
    const bool hasCPrimePI = versionB && group.received[2] && group.thirdIsCPrime;
    std::uint16_t pi = 0;
    if (group.received[0]) {
        pi = group.blocks[0];
        if (hasCPrimePI && group.blocks[2] != pi) return;
    } else if (hasCPrimePI) {
        pi = group.blocks[2];
    } else {
        return;
    }
    const std::optional<std::uint16_t> before = piConfirmation.confirmed();
    const auto usable = piConfirmation.offer(group, pi);
    if (usable.empty()) return;
    // A newly confirmed PI of another station (retune without reset): start afresh.
    if (before != piConfirmation.confirmed() && state.info().pi && state.info().pi != pi) {
        DebugLog::writef("📻 RDS PI changed %04X -> %04X", *state.info().pi, pi);
        state.reset();
    }
    for (const RDSPIConfirmation::Held& held : usable) useGroup(held.group, held.pi);
}

void RDSGroupDecoder::useGroup(const RDSRawGroup& group, std::uint16_t pi) {
    const RDSProgrammeInfo before = state.info();
    const RDSGroupReport report = state.apply(group, pi);
    const RDSProgrammeInfo& after = state.info();
    groups.fetch_add(1, std::memory_order_relaxed);

    if (onPICodeUpdated) onPICodeUpdated(formatString("%04X", pi));
    if (onTPUpdated) onTPUpdated(report.tp);
    if (onPTYUpdated) onPTYUpdated(std::string(ptyNames[static_cast<std::size_t>(report.pty)]));
    if (report.ta && onTAUpdated) onTAUpdated(*report.ta);
    if (report.ps && !report.ps->empty() && onPSNameUpdated) onPSNameUpdated(*report.ps);
    if (report.groupType == 2 && (group.received[2] || group.received[3]) && onRadioTextUpdated) {
        const std::string text = state.radioTextSoFar();
        if (!text.empty()) onRadioTextUpdated(text);
    }
    if (onGroup) onGroup(report, after);
    if (after != before && onProgrammeUpdated) onProgrammeUpdated(after);
}
