#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// AX.25 UI frames carrying APRS reports, and their Bell 202 AFSK audio: HDLC flags, bit
// stuffing, NRZI and phase-continuous 1200/2200 Hz tones at any sample rate. Written
// independently of the receiver's decoder so that each checks the other.
struct AX25Address {
    std::string callsign;  // up to six characters
    int ssid = 0;          // 0-15
    bool operator==(const AX25Address&) const = default;
};

struct APRSFrameFields {
    AX25Address source;
    AX25Address destination{.callsign = "APRS", .ssid = 0};
    std::vector<AX25Address> path;  // digipeaters, e.g. WIDE1-1, WIDE2-1
    std::string information;        // bytes of the information field
};

// An uncompressed position report (APRS101 chapter 8).
struct APRSPositionReport {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    char symbolTable = '/';
    char symbolCode = '>';
    std::string comment;
    std::optional<std::string> timestamp;  // seven characters, e.g. "092345z" or "234517h"
    bool messaging = false;                // '=' / '@' rather than '!' / '/'
};

struct AFSKSettings {
    double sampleRateHz = 51'200.0;
    float amplitude = 0.5f;    // peak, audio full scale 1.0
    int preambleFlags = 32;    // TXDELAY: about 210 ms of flags
    int postambleFlags = 3;
};

class APRSEncoder {
public:
    static std::string positionInformation(const APRSPositionReport& report);
    // Addresses, control 0x03 (UI), PID 0xF0 (no layer 3), information, FCS (low byte first).
    static std::vector<std::uint8_t> frameBytes(const APRSFrameFields& fields);
    // The AX.25 FCS, bit by bit (CRC-CCITT on bits sent least significant first).
    static std::uint16_t frameCheck(std::span<const std::uint8_t> bytes);
    // Line bits before NRZI: flags, then the frame least significant bit first with a 0 stuffed
    // after every five 1s, then flags.
    static std::vector<std::uint8_t> hdlcBits(std::span<const std::uint8_t> frame,
                                              int preambleFlags, int postambleFlags);
    // NRZI and AFSK: a 0 changes the tone, a 1 keeps it; the tone phase never jumps. Bits last
    // exactly sampleRate/1200 samples on average (fractional timing carried).
    static std::vector<float> modulate(std::span<const std::uint8_t> bits,
                                       const AFSKSettings& settings);
    static std::vector<float> encode(const APRSFrameFields& fields, const AFSKSettings& settings);
};
