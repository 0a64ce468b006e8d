#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "aprs/APRSPacket.h"

// AX.25 frame checking and parsing into APRSPacket, and the APRS uncompressed position format.
// Pure functions; any byte input is safe.

// CRC-16 of HDLC/AX.25 (ISO 13239: reflected 0x8408, initial 0xFFFF, complemented).
std::uint16_t ax25FrameCheck(std::span<const std::uint8_t> bytes);

// True when the frame (at least 17 bytes, FCS in its last two, low byte first) checks out.
bool ax25FrameCheckMatches(std::span<const std::uint8_t> frameWithFCS);

// Addresses, digipeater path and information field of a frame with its FCS still attached (the
// FCS is not checked here). Absent when there is no information field. id and timestamp are left
// for the caller; position fields are filled when the field holds an uncompressed position, and
// `frame` holds every byte but the FCS.
std::optional<APRSPacket> parseAX25Frame(std::span<const std::uint8_t> frameWithFCS);

struct APRSPosition {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    std::string comment;  // raw bytes after the symbol code
    bool operator==(const APRSPosition&) const = default;
};

// "DDMM.mmN/DDDMM.mmE>comment" after the data type identifier, optionally preceded by a
// seven-character timestamp ending in 'z', '/' or 'h' (APRS101 chapters 6 and 8).
std::optional<APRSPosition> parseAPRSUncompressedPosition(std::string_view text);

// ISO Latin-1 bytes to UTF-8.
std::string latin1ToUTF8(std::string_view bytes);
