#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// RDS block synchronisation and group decoding (IEC 62106): PI, PTY, TP, TA, the programme
// service name from group 0A and RadioText from group 2A.
//
// Input: data bits (1187.5 per second) from RDSDemodulator::onDataBit. Blocks are found by
// their checkword and offset word (A, B, C, D; C' is not recognised, so version-B groups end
// synchronisation at their third block); one bad block drops synchronisation, there is no
// error correction. Only printable ASCII (0x20..0x7E) is shown.
//
// The callbacks run synchronously on the thread that calls processBit, under the object's
// mutex, so a reset() on another thread waits for a callback in progress and no callback of
// pre-reset data starts after reset() returns. Callbacks must not call back into this object.
// Set them before the first processBit and leave them alone after.
class RDSGroupDecoder {
public:
    RDSGroupDecoder();
    RDSGroupDecoder(const RDSGroupDecoder&) = delete;
    RDSGroupDecoder& operator=(const RDSGroupDecoder&) = delete;

    // One data bit; only its lowest bit is used.
    void processBit(int bit);
    // Back to searching with empty PS and RT buffers; callbacks and groupCount stay.
    void reset();
    // Groups received whole (four blocks in sync) since construction; any thread may read it.
    std::uint64_t groupCount() const { return groups.load(std::memory_order_relaxed); }

    std::function<void(const std::string&)> onPSNameUpdated;
    std::function<void(const std::string&)> onRadioTextUpdated;
    std::function<void(const std::string&)> onPTYUpdated;     // programme-type name
    std::function<void(const std::string&)> onPICodeUpdated;  // "%04X"
    std::function<void(bool)> onTPUpdated;
    std::function<void(bool)> onTAUpdated;

    // IEC 62106 Annex B: g(x) = x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1 and the offset words.
    static constexpr std::uint32_t generatorPoly = 0x5B9;
    static constexpr std::uint32_t offsetA = 0x0FC;
    static constexpr std::uint32_t offsetB = 0x198;
    static constexpr std::uint32_t offsetC = 0x168;
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
    void resetLocked();
    void processGroup();
    void processPSSegment();
    void processRadioTextSegment();

    std::uint32_t bitBuffer = 0;  // last 26 bits, newest in bit 0
    int bitCount = 0;             // bits since the last accepted block, reset or loss of sync
    bool synced = false;
    int expectedBlock = 0;  // 0 = A, 1 = B, 2 = C, 3 = D
    std::uint16_t blockA = 0;
    std::uint16_t blockB = 0;
    std::uint16_t blockC = 0;
    std::uint16_t blockD = 0;
    std::array<char, 8> psNameChars{};  // spaces after construction and reset
    std::array<bool, 8> psNameFilled{};
    std::array<char, 64> radioTextChars{};  // spaces after construction and reset
    std::optional<int> lastABFlag;
    std::atomic<std::uint64_t> groups{0};

    std::mutex mutex;
};
