#include "rds/RDSBlockSync.h"

#include <bit>

namespace {

constexpr int kBlockBits = 26;
constexpr std::uint32_t kBlockMask = (1U << kBlockBits) - 1;

// IEC 62106 Annex B: parity-check matrix H, row r for the r-th transmitted bit.
constexpr std::array<std::uint16_t, kBlockBits> kParityRows = {
    0x200, 0x100, 0x080, 0x040, 0x020, 0x010, 0x008, 0x004, 0x002, 0x001, 0x2DC, 0x16E, 0x0B7,
    0x287, 0x39F, 0x313, 0x355, 0x376, 0x1BB, 0x201, 0x3DC, 0x1EE, 0x0F7, 0x2A7, 0x38F, 0x31B};

constexpr std::uint16_t syndromeOf(std::uint32_t block) {
    std::uint16_t s = 0;
    for (int r = 0; r < kBlockBits; ++r) {
        if ((block >> (kBlockBits - 1 - r)) & 1U) s ^= kParityRows[r];
    }
    return s;
}

// Error pattern by its syndrome, for every burst of 1..5 bits (first and last bit wrong) at
// every position of the block; 0 where the syndrome belongs to no such burst. The code
// corrects bursts up to 5 bits, so no two of them share a syndrome.
constexpr std::array<std::uint32_t, 1024> buildBurstTable() {
    std::array<std::uint32_t, 1024> table{};
    for (int length = 1; length <= 5; ++length) {
        const int inner = length > 2 ? length - 2 : 0;
        for (std::uint32_t middle = 0; middle < (1U << inner); ++middle) {
            const std::uint32_t pattern =
                length == 1 ? 1U : (1U << (length - 1)) | (middle << 1) | 1U;
            for (int shift = 0; shift + length <= kBlockBits; ++shift) {
                std::uint32_t& slot = table[syndromeOf(pattern << shift)];
                if (slot == 0) slot = pattern << shift;
            }
        }
    }
    return table;
}

constexpr std::array<std::uint32_t, 1024> kBurstBySyndrome = buildBurstTable();

// Loss of sync. A decoder repairing 5-bit bursts accepts ~36 % of random blocks, so repairs
// earn nothing and only error-free blocks raise the score; from the start value two lost
// blocks in a row drop a fresh sync, noise drops an established one within ~6 blocks.
constexpr int kScoreStart = 4;
constexpr int kScoreMax = 10;
constexpr int kScoreClean = 1;
constexpr int kScoreSmallRepair = 0;  // 1 or 2 bits
constexpr int kScoreLargeRepair = -1;
constexpr int kScoreLost = -2;
constexpr int kLostWindowBlocks = 50;
// A repair of more than two bits is believed only on a quiet channel (no block lost or
// largely repaired among the last 50): a real burst, e.g. a click. Where errors are frequent
// they are scattered, and then most such repairs make a wrong word (measured: ~60 % of them
// at 4 % bit errors), so the block counts as lost. A fresh sync is not yet quiet.
constexpr int kSmallRepairBits = 2;
constexpr int kMaxLostInWindow = 25;  // beyond half lost, hardly a group is whole anyway

int blockPosition(RDSOffset offset) {
    switch (offset) {
        case RDSOffset::a:
            return 0;
        case RDSOffset::b:
            return 1;
        case RDSOffset::c:
        case RDSOffset::cPrime:
            return 2;
        default:
            return 3;
    }
}

}  // namespace

RDSBlockSync::RDSBlockSync(Options options) : options(options) {}

void RDSBlockSync::reset() {
    history = 0;
    count.bits = 0;
    loseSync();
}

std::uint16_t RDSBlockSync::syndrome(std::uint32_t block) {
    return syndromeOf(block & kBlockMask);
}

std::optional<RDSBlockSync::Correction> RDSBlockSync::correct(std::uint32_t block, RDSOffset offset,
                                                              bool allowRepair) {
    block &= kBlockMask;
    const std::uint16_t error = syndrome(block) ^ offsetSyndromes[static_cast<int>(offset)];
    if (error == 0) return Correction{.info = static_cast<std::uint16_t>(block >> 10)};
    if (!allowRepair) return std::nullopt;
    const std::uint32_t pattern = kBurstBySyndrome[error];
    if (pattern == 0) return std::nullopt;
    return Correction{.info = static_cast<std::uint16_t>((block ^ pattern) >> 10),
                      .correctedBits = std::popcount(pattern)};
}

std::optional<RDSRawGroup> RDSBlockSync::processBit(int bit) {
    history = (history << 1) | static_cast<std::uint64_t>(bit & 1);
    ++count.bits;
    if (!synced) {
        search();
        // A sync found on block D completes a group at once.
        if (synced && expectedBlock == 0 && bitsSinceBlock == 0) return takeGroup();
        return std::nullopt;
    }
    ++bitsSinceBlock;
    if (bitsSinceBlock < kBlockBits) return std::nullopt;
    return evaluateBlock();
}

bool RDSBlockSync::acceptsCPrime() const {
    return !group.received[1] || ((group.blocks[1] >> 11) & 1U);
}

bool RDSBlockSync::acceptsC() const {
    return !group.received[1] || !((group.blocks[1] >> 11) & 1U);
}

// The expected offset (for block 3: C or C' as block B's version bit says, either when B
// was lost) if the block is error-free.
std::optional<RDSOffset> RDSBlockSync::cleanOffset(std::uint32_t block) const {
    const std::uint16_t s = syndrome(block);
    static constexpr std::array<RDSOffset, 4> kByPosition = {RDSOffset::a, RDSOffset::b,
                                                             RDSOffset::c, RDSOffset::d};
    if (expectedBlock != 2) {
        const RDSOffset o = kByPosition[expectedBlock];
        if (s == offsetSyndromes[static_cast<int>(o)]) return o;
        return std::nullopt;
    }
    if (acceptsC() && s == offsetSyndromes[static_cast<int>(RDSOffset::c)]) return RDSOffset::c;
    if (acceptsCPrime() && s == offsetSyndromes[static_cast<int>(RDSOffset::cPrime)])
        return RDSOffset::cPrime;
    return std::nullopt;
}

// Called 26 bits after the last block, and once more at 27 if the block was not error-free:
// then the windows ending one bit early and one bit late are tried before repairing.
std::optional<RDSRawGroup> RDSBlockSync::evaluateBlock() {
    const auto window = [this](int bitsAgo) {
        return static_cast<std::uint32_t>(history >> bitsAgo) & kBlockMask;
    };
    if (bitsSinceBlock == kBlockBits) {
        const std::uint32_t block = window(0);
        if (const auto o = cleanOffset(block)) {
            bitsSinceBlock = 0;
            return finishBlock(Correction{.info = static_cast<std::uint16_t>(block >> 10)},
                               *o == RDSOffset::cPrime);
        }
        return std::nullopt;
    }
    for (const int bitsAgo : {2, 0}) {
        const std::uint32_t block = window(bitsAgo);
        if (const auto o = cleanOffset(block)) {
            ++count.bitSlips;
            bitsSinceBlock = bitsAgo;
            return finishBlock(Correction{.info = static_cast<std::uint16_t>(block >> 10)},
                               *o == RDSOffset::cPrime);
        }
    }
    bitsSinceBlock = 1;
    const std::uint32_t block = window(1);
    const bool quiet = troubleHistory == 0;
    const auto repaired = [&](RDSOffset offset) -> std::optional<Correction> {
        auto c = correct(block, offset, options.errorCorrection);
        if (c && c->correctedBits > kSmallRepairBits && !quiet) return std::nullopt;
        return c;
    };
    if (expectedBlock != 2) {
        static constexpr std::array<RDSOffset, 4> kByPosition = {RDSOffset::a, RDSOffset::b,
                                                                 RDSOffset::c, RDSOffset::d};
        return finishBlock(repaired(kByPosition[expectedBlock]), false);
    }
    // Block 3: with B lost both offsets are possible; the smaller repair is the likelier one.
    const auto asC = acceptsC() ? repaired(RDSOffset::c) : std::nullopt;
    const auto asCPrime = acceptsCPrime() ? repaired(RDSOffset::cPrime) : std::nullopt;
    if (asC && (!asCPrime || asC->correctedBits <= asCPrime->correctedBits))
        return finishBlock(asC, false);
    return finishBlock(asCPrime, asCPrime.has_value());
}

std::optional<RDSRawGroup> RDSBlockSync::finishBlock(std::optional<Correction> block,
                                                     bool isCPrime) {
    ++count.blocksInSync;
    const bool lost = !block.has_value();
    if (lost) {
        ++count.blocksLost;
        score += kScoreLost;
    } else {
        group.blocks[expectedBlock] = block->info;
        group.correctedBits[expectedBlock] = block->correctedBits;
        group.received[expectedBlock] = true;
        if (expectedBlock == 2) group.thirdIsCPrime = isCPrime;
        if (block->correctedBits == 0) {
            score = std::min(score + kScoreClean, kScoreMax);
        } else {
            ++count.blocksCorrected;
            score +=
                block->correctedBits <= kSmallRepairBits ? kScoreSmallRepair : kScoreLargeRepair;
        }
    }
    constexpr std::uint64_t kWindowMask = (1ULL << kLostWindowBlocks) - 1;
    lostHistory = ((lostHistory << 1) | (lost ? 1U : 0U)) & kWindowMask;
    const bool trouble = lost || block->correctedBits > kSmallRepairBits;
    troubleHistory = ((troubleHistory << 1) | (trouble ? 1U : 0U)) & kWindowMask;

    std::optional<RDSRawGroup> out;
    expectedBlock = (expectedBlock + 1) % 4;
    if (expectedBlock == 0) out = takeGroup();
    if (score <= 0 || std::popcount(lostHistory) > kMaxLostInWindow) loseSync();
    return out;
}

std::optional<RDSRawGroup> RDSBlockSync::takeGroup() {
    std::optional<RDSRawGroup> out;
    if (group.received[0] || group.received[1] || group.received[2] || group.received[3])
        out = group;
    group = {};
    return out;
}

void RDSBlockSync::loseSync() {
    synced = false;
    expectedBlock = 0;
    bitsSinceBlock = 0;
    score = 0;
    lostHistory = 0;
    troubleHistory = 0;
    group = {};
    hitCount = 0;
    nextHit = 0;
}

// Only error-free blocks count while searching: with repair, a third of random windows
// would look like blocks.
void RDSBlockSync::search() {
    if (count.bits < kBlockBits) return;
    const std::uint32_t block = static_cast<std::uint32_t>(history) & kBlockMask;
    const std::uint16_t s = syndrome(block);
    std::optional<RDSOffset> found;
    for (int o = 0; o < 5; ++o) {
        if (s == offsetSyndromes[o]) found = static_cast<RDSOffset>(o);
    }
    if (!found) return;
    const Hit hit{
        .bit = count.bits, .offset = *found, .info = static_cast<std::uint16_t>(block >> 10)};
    const int position = blockPosition(hit.offset);
    for (int i = 0; i < hitCount; ++i) {
        const Hit& earlier = hits[i];
        const std::uint64_t distance = hit.bit - earlier.bit;
        if (distance % kBlockBits != 0) continue;
        const auto blocks = static_cast<int>(distance / kBlockBits);
        if (blocks < 1 || blocks > 4 || (blockPosition(earlier.offset) + blocks) % 4 != position)
            continue;
        acquire(hit);
        return;
    }
    hits[nextHit] = hit;
    nextHit = (nextHit + 1) % static_cast<int>(hits.size());
    hitCount = std::min(hitCount + 1, static_cast<int>(hits.size()));
}

// The blocks of the current group already seen while searching are kept.
void RDSBlockSync::acquire(const Hit& hit) {
    const int position = blockPosition(hit.offset);
    group = {};
    for (int i = 0; i < hitCount; ++i) {
        const Hit& earlier = hits[i];
        const int p = blockPosition(earlier.offset);
        if (p >= position ||
            hit.bit - earlier.bit != static_cast<std::uint64_t>((position - p) * kBlockBits))
            continue;
        group.blocks[p] = earlier.info;
        group.received[p] = true;
        if (p == 2) group.thirdIsCPrime = earlier.offset == RDSOffset::cPrime;
        ++count.blocksInSync;
    }
    group.blocks[position] = hit.info;
    group.received[position] = true;
    if (position == 2) group.thirdIsCPrime = hit.offset == RDSOffset::cPrime;
    ++count.blocksInSync;
    ++count.acquisitions;
    synced = true;
    score = kScoreStart;
    lostHistory = 0;
    troubleHistory = 1;  // a fresh sync earns trust in large repairs over 50 blocks
    bitsSinceBlock = 0;
    expectedBlock = (position + 1) % 4;
    hitCount = 0;
    nextHit = 0;
}
