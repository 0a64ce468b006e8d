#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "adsb/DecodedADSBMessage.h"

// The Beast binary format that 1090 MHz receivers send on port 30005 and decoders, aggregators
// and multilateration clients read. A 112-bit frame goes out as
//
//   0x1a '3' | timestamp, 6 bytes big-endian, 12 MHz ticks | signal, 1 byte | frame, 14 bytes
//
// and every 0x1a after the leading one is sent twice, so a reader that joins mid-stream finds
// the next frame start as a lone 0x1a followed by a type byte.
inline constexpr std::uint8_t kBeastEscape = 0x1a;
inline constexpr std::uint8_t kBeastLongFrame = '3';
// Escape and type, then timestamp, signal and frame with each byte possibly doubled.
inline constexpr std::size_t kBeastMaxLongFrameBytes = 2 + 2 * (6 + 1 + 14);

using BeastFrameBuffer = std::array<std::uint8_t, kBeastMaxLongFrameBytes>;

// Stream time at 2,048,000 samples/s as 12 MHz ticks (x 375/64, exact), wrapped to 48 bits as
// the field holds them (every 271 days).
std::uint64_t beastTimestampTicks(std::uint64_t sampleIndex);

// Mean pulse magnitude (IQ full scale 1.0) as the signal byte. Readers square byte/255 to get
// power relative to full scale, so the byte is the magnitude itself times 255: full scale is
// 255 (0 dBFS), a tenth of it 26 (-20 dBFS). Out-of-range levels are clamped.
std::uint8_t beastSignalByte(float signalLevel);

// The message's 112 bits packed into bytes, first sent bit in the top of byte 0.
std::array<std::uint8_t, 14> adsbFrameBytes(const DecodedADSBMessage& message);

// Writes the escaped long frame for `message` into `out`; returns the number of bytes used.
std::size_t encodeBeastLongFrame(const DecodedADSBMessage& message, BeastFrameBuffer& out);
std::string encodeBeastLongFrame(const DecodedADSBMessage& message);
