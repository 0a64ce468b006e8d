#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rds/RDSBlockSync.h"
#include "rds/RDSProgramme.h"
#include "rds/RDSTextBuffer.h"

// A station's RDS state built from its groups: decodes each group (types 0, 1, 2, 3, 4, 10
// and the announced RadioText+ group) into a report and accumulates RDSProgrammeInfo.
// Lost blocks are skipped; the fields of the blocks that did arrive are still used (a 0A
// group without block D still gives TA, M/S and DI). Block B must have arrived.
// Not thread-safe; the owner serialises calls.
class RDSProgrammeState {
public:
    RDSProgrammeState();
    RDSProgrammeState(const RDSProgrammeState&) = delete;
    RDSProgrammeState& operator=(const RDSProgrammeState&) = delete;

    void reset();
    // The group of a station whose PI is `pi`; block B must have been received.
    RDSGroupReport apply(const RDSRawGroup& group, std::uint16_t pi);
    const RDSProgrammeInfo& info() const { return programme; }
    // RadioText so far (message may be incomplete), for display while it builds up.
    std::string radioTextSoFar() const { return radioText().text(); }

    // RadioText+ announced by ODA (group 3A) with this application identifier.
    static constexpr std::uint16_t kRadioTextPlusAID = 0x4BD7;
    static std::optional<RDSClockTime> decodeClockTime(std::uint16_t b, std::uint16_t c,
                                                       std::uint16_t d);

private:
    void applyBasicTuning(const RDSRawGroup& group, RDSGroupReport& report);
    void applyAlternativeFrequencies(std::uint16_t c, RDSGroupReport& report);
    void applySlowLabelling(std::uint16_t c, RDSGroupReport& report);
    void applyRadioText(const RDSRawGroup& group, RDSGroupReport& report);
    void applyOpenDataAnnouncement(const RDSRawGroup& group);
    void applyRadioTextPlus(const RDSRawGroup& group, RDSGroupReport& report);
    void applyProgrammeTypeName(const RDSRawGroup& group, RDSGroupReport& report);
    const RDSTextBuffer& radioText() const {
        return radioTextB ? radioTextVersionB : radioTextVersionA;
    }

    RDSProgrammeInfo programme;
    RDSTextBuffer ps{8};
    RDSTextBuffer radioTextVersionA{64};
    RDSTextBuffer radioTextVersionB{32};
    RDSTextBuffer ptyName{8};
    bool radioTextB = false;
    std::optional<int> radioTextABFlag;
    std::optional<int> ptyNameABFlag;
    std::vector<std::uint8_t> completeRadioTextCodes;  // the last whole message, for RT+ positions
    // AF method A list being collected: count announced, frequencies so far.
    std::optional<int> afExpected;
    int afReceived = 0;
    bool afSkipNext = false;  // the code after 250 is an LF/MF frequency
    std::vector<int> afList;
    std::optional<int> radioTextPlusGroupType;  // type * 2 + version, from ODA
    std::optional<bool> radioTextPlusToggle;
};
