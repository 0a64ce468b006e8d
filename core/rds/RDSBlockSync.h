#pragma once

#include <array>
#include <cstdint>
#include <optional>

// Offset word of a block: its place in the group. C' replaces C in version-B groups.
enum class RDSOffset { a, b, c, cPrime, d };

// One group as the block synchroniser saw it, blocks in order A, B, C (or C'), D.
struct RDSRawGroup {
    std::array<std::uint16_t, 4> blocks{};
    std::array<int, 4> correctedBits{};  // bits repaired per block
    std::array<bool, 4> received{};      // false: the block was lost (uncorrectable)
    bool thirdIsCPrime = false;          // block 3 carried offset C'
    bool operator==(const RDSRawGroup&) const = default;
};

// Block synchronisation and burst error correction (IEC 62106 Annex B): data bits in
// (1187.5/s), groups out (one per 104 bits while in sync).
//
// Searching: every bit the last 26 are checked for an error-free block; two such blocks 26,
// 52, 78 or 104 bits apart, in group order, give synchronisation. In sync: each expected
// block is checked against its offset, repaired if its error is a burst of up to 5 bits
// (more than 2 bits only if the last 50 blocks had no trouble), else marked lost; an
// error-free block one bit early or late re-aligns the clock (a bit slip of the demodulator). A
// score (clean +1, small repair 0, larger repair -1, lost -2) and the share of lost blocks among
// the last 50 decide when to search again.
//
// A damaged block is judged one bit late, once the window one bit late can be tried.
// One caller at a time; no allocation.
class RDSBlockSync {
public:
    struct Options {
        bool errorCorrection = true;
    };
    struct Counters {
        std::uint64_t bits = 0;          // since construction or reset
        std::uint64_t blocksInSync = 0;  // blocks checked while in sync
        std::uint64_t blocksCorrected = 0;
        std::uint64_t blocksLost = 0;
        std::uint64_t acquisitions = 0;  // times synchronisation was found
        std::uint64_t bitSlips = 0;      // re-alignments by one bit
    };
    struct Correction {
        std::uint16_t info = 0;
        int correctedBits = 0;
    };

    RDSBlockSync() : RDSBlockSync(Options{}) {}
    explicit RDSBlockSync(Options options);
    RDSBlockSync(const RDSBlockSync&) = delete;
    RDSBlockSync& operator=(const RDSBlockSync&) = delete;

    // One data bit (lowest bit used); a group when one has just ended in sync.
    std::optional<RDSRawGroup> processBit(int bit);
    // Back to searching; counters stay.
    void reset();
    bool isSynced() const { return synced; }
    const Counters& counters() const { return count; }

    // s = y H over the 26-bit block (bit 25 sent first).
    static std::uint16_t syndrome(std::uint32_t block);
    // The information word of a block received with the given offset: as is when error-free,
    // repaired when the error is a burst of 1..5 bits and repair is allowed, else nothing.
    static std::optional<Correction> correct(std::uint32_t block, RDSOffset offset,
                                             bool allowRepair);

    // IEC 62106 Annex B: syndromes of the offset words A, B, C, C', D after y H.
    static constexpr std::array<std::uint16_t, 5> offsetSyndromes = {0x3D8, 0x3D4, 0x25C, 0x3CC,
                                                                     0x258};

private:
    struct Hit {
        std::uint64_t bit = 0;  // bit counter when the block ended
        RDSOffset offset = RDSOffset::a;
        std::uint16_t info = 0;
    };

    void search();
    void acquire(const Hit& hit);
    std::optional<RDSRawGroup> evaluateBlock();
    std::optional<RDSRawGroup> finishBlock(std::optional<Correction> block, bool isCPrime);
    bool acceptsCPrime() const;
    bool acceptsC() const;
    std::optional<RDSOffset> cleanOffset(std::uint32_t block) const;
    std::optional<RDSRawGroup> takeGroup();
    void loseSync();

    Options options;
    Counters count;
    std::uint64_t history = 0;  // last bits, newest in bit 0
    bool synced = false;
    int expectedBlock = 0;  // 0..3 = A, B, C/C', D
    int bitsSinceBlock = 0;
    int score = 0;
    std::uint64_t lostHistory = 0;     // one bit per block in sync, newest in bit 0
    std::uint64_t troubleHistory = 0;  // the same, set for lost or largely repaired blocks
    RDSRawGroup group;
    std::array<Hit, 8> hits{};  // error-free blocks seen while searching, a ring
    int hitCount = 0;
    int nextHit = 0;
};
