#pragma once

#include <cstdint>
#include <span>
#include <string>

// KISS framing (the TNC host protocol of Chepponis and Karn, 1987) for received AX.25 frames.
namespace kiss {
constexpr std::uint8_t kFEND = 0xC0;   // frame end, also sent first
constexpr std::uint8_t kFESC = 0xDB;   // escape
constexpr std::uint8_t kTFEND = 0xDC;  // FESC TFEND stands for a FEND inside the frame
constexpr std::uint8_t kTFESC = 0xDD;  // FESC TFESC stands for a FESC inside the frame
constexpr std::uint8_t kDataFrame = 0x00;  // command byte: port 0, data
}  // namespace kiss

// Appends FEND, the data command for port 0, the escaped frame and FEND to `out`. An empty frame
// appends nothing: KISS readers treat FEND FEND as filler, not as a frame.
void appendKISSDataFrame(std::span<const std::uint8_t> frame, std::string& out);

std::string kissDataFrame(std::span<const std::uint8_t> frame);
