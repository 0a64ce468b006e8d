#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dab/DABDynamicLabel.h"
#include "dab/MOTSession.h"

// Programme-associated data of a DAB+ service (EN 300 401 clause 7.4, TS 102 563 clause 5.4):
// each access unit may start with a data stream element whose payload is the X-PAD, byte-
// reversed, followed by the 2-byte F-PAD. The X-PAD's data subfields are joined across access
// units into dynamic label groups and MOT data groups (sized by the preceding data group
// length indicator); labels go to onDynamicLabel, MOT images (JPEG or PNG) to onSlide.
// One caller (the superframe decoder's queue); the callbacks run inside pushAccessUnit.
class DABPADDecoder {
public:
    // X-PAD application types (EN 300 401 clause 7.4.3, Table 11).
    static constexpr int kAppEnd = 0;
    static constexpr int kAppDataGroupLength = 1;
    static constexpr int kAppDLStart = 2;
    static constexpr int kAppDLContinue = 3;
    static constexpr int kAppMOTStart = 12;
    static constexpr int kAppMOTContinue = 13;

    DABPADDecoder();
    DABPADDecoder(const DABPADDecoder&) = delete;
    DABPADDecoder& operator=(const DABPADDecoder&) = delete;

    // One CRC-good AU (raw_data_block, CRC removed). AUs not led by a DSE are ignored.
    void pushAccessUnit(std::span<const std::uint8_t> au);
    // The PAD as the DSE carries it: X-PAD bytes in reverse order, then F-PAD.
    void pushPAD(std::span<const std::uint8_t> pad);
    // The payload of the AU's leading data stream element, or nothing.
    static std::optional<std::span<const std::uint8_t>> dsePayload(
        std::span<const std::uint8_t> au);
    // For a service switch.
    void reset();

    int dataGroupCRCFailures() const { return groupCRCFails; }
    int labelCRCFailures() const { return label.crcFailures(); }
    int slidesRejected() const { return rejectedSlides; }

    std::function<void(const std::string& text, const std::optional<std::string>& artist,
                       const std::optional<std::string>& title)>
        onDynamicLabel;
    // contentName is empty when the object has none; mimeType is "image/jpeg" or "image/png".
    std::function<void(const std::vector<std::uint8_t>& bytes, const std::string& contentName,
                       const std::string& mimeType)>
        onSlide;

private:
    void subfield(int appType, std::span<const std::uint8_t> data);
    void continuation(std::span<const std::uint8_t> data);
    void feedLengthIndicator(std::span<const std::uint8_t> data, bool start);
    void feedLabel(std::span<const std::uint8_t> data, bool start);
    void feedMOT(std::span<const std::uint8_t> data, bool start);
    void deliverObject(const MOTObject& object);

    DABDynamicLabel label;
    MOTSession mot;
    std::vector<std::uint8_t> xpad;  // scratch: the X-PAD in transmission order
    int lastAppType = kAppEnd;       // what a subfield without contents indicator continues
    std::vector<std::uint8_t> lengthIndicator;
    std::optional<std::size_t> nextMOTLength;
    std::vector<std::uint8_t> labelGroup;
    bool labelCollecting = false;
    std::vector<std::uint8_t> motGroup;
    std::size_t motExpected = 0;
    bool motCollecting = false;
    std::uint64_t lastSlideHash = 0;
    int groupCRCFails = 0;
    int rejectedSlides = 0;
};
