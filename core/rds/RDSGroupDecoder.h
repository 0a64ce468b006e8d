#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "rds/RDSBlockSync.h"
#include "rds/RDSPIConfirmation.h"
#include "rds/RDSProgramme.h"
#include "rds/RDSProgrammeState.h"

// RDS group decoding (IEC 62106): block sync with burst error correction (RDSBlockSync), PI
// confirmation (RDSPIConfirmation) and the station's state (RDSProgrammeState): PI, PTY, TP,
// TA, M/S, DI, PS, AF lists, ECC, language, RadioText (2A and 2B), RadioText+, clock time and
// PTYN, in versions A and B (C' recognised). Texts are UTF-8 through the RDS character table.
//
// Input: data bits (1187.5 per second) from RDSDemodulator::onDataBit. Output: the callbacks
// below, for groups whose PI is confirmed (the same PI in two groups; the first is kept and
// released then). Statistics come about once per second of signal (every 1188 bits).
//
// The callbacks run synchronously on the thread that calls processBit, under the object's
// mutex, so a reset() on another thread waits for a callback in progress and no callback of
// pre-reset data starts after reset() returns. Callbacks must not call back into this object.
// Set them before the first processBit and leave them alone after.
class RDSGroupDecoder {
public:
    struct Options {
        bool errorCorrection = true;  // off: only error-free blocks, for comparison
    };

    RDSGroupDecoder() : RDSGroupDecoder(Options{}) {}
    explicit RDSGroupDecoder(Options options);
    RDSGroupDecoder(const RDSGroupDecoder&) = delete;
    RDSGroupDecoder& operator=(const RDSGroupDecoder&) = delete;

    // One data bit; only its lowest bit is used.
    void processBit(int bit);
    // Back to searching with no confirmed PI and an empty station state; callbacks,
    // groupCount and the block counters stay.
    void reset();
    // Groups decoded (confirmed PI, block B received) since construction; any thread.
    std::uint64_t groupCount() const { return groups.load(std::memory_order_relaxed); }
    // Thread-safe snapshots.
    RDSProgrammeInfo programme();
    RDSGroupStatistics statistics();

    std::function<void(const std::string&)> onPSNameUpdated;     // a new whole name, trimmed
    std::function<void(const std::string&)> onRadioTextUpdated;  // after each segment, so far
    std::function<void(const std::string&)> onPTYUpdated;        // programme-type name
    std::function<void(const std::string&)> onPICodeUpdated;     // "%04X"
    std::function<void(bool)> onTPUpdated;
    std::function<void(bool)> onTAUpdated;                            // groups 0A/0B
    // Every group used, with the station's state after it.
    std::function<void(const RDSGroupReport&, const RDSProgrammeInfo&)> onGroup;
    std::function<void(const RDSProgrammeInfo&)> onProgrammeUpdated;  // after a change
    std::function<void(const RDSGroupStatistics&)> onStatistics;

    // IEC 62106 Annex B: g(x) = x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1 and the offset words
    // (C' = 0x350).
    static constexpr std::uint32_t generatorPoly = 0x5B9;
    static constexpr std::uint32_t offsetA = 0x0FC;
    static constexpr std::uint32_t offsetB = 0x198;
    static constexpr std::uint32_t offsetC = 0x168;
    static constexpr std::uint32_t offsetCPrime = 0x350;
    static constexpr std::uint32_t offsetD = 0x1B4;

    // Display names of the European PTY codes (IEC 62106, European list).
    static constexpr std::array<std::string_view, 32> ptyNames = {
        "Nedefinirano",
        "Vijesti",
        "Aktualnosti",
        "Informacije",
        "Sport",
        "Obrazovanje",
        "Drama",
        "Kultura",
        "Znanost",
        "Razno",
        "Pop glazba",
        "Rock glazba",
        "Lagana glazba",
        "Lagana klasika",
        "Ozbiljna klasika",
        "Druga glazba",
        "Vrijeme",
        "Financije",
        "Dječji program",
        "Društvo",
        "Religija",
        "Telefonski razgovori",
        "Putovanja",
        "Slobodno vrijeme",
        "Jazz",
        "Country glazba",
        "Nacionalna glazba",
        "Stara glazba",
        "Folk glazba",
        "Dokumentarac",
        "Alarm test",
        "Alarm",
    };

private:
    struct Snapshot {
        std::uint64_t bits = 0, groups = 0, blocksInSync = 0, blocksLost = 0;
    };

    void resetLocked();
    void processGroup(const RDSRawGroup& group);
    void useGroup(const RDSRawGroup& group, std::uint16_t pi);
    Snapshot snapshotNow() const;
    RDSGroupStatistics statisticsLocked() const;

    RDSBlockSync blockSync;
    RDSPIConfirmation piConfirmation;
    RDSProgrammeState state;
    std::uint64_t bits = 0;  // since construction
    std::uint64_t bitsOutOfSync = 0;
    // Counters at the last few once-per-second marks, oldest first, for the sliding window.
    std::array<Snapshot, 6> snapshots{};
    int snapshotCount = 0;
    std::atomic<std::uint64_t> groups{0};

    std::mutex mutex;
};
