#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// A DAB+ superframe of s interleaved RS(120, 110) codewords: codeword k byte j travels as
// byte j × s + k. Stateless.
class DABReedSolomonFrame {
public:
    struct Result {
        std::vector<std::uint8_t> data;  // s × 110 bytes, interleaved as sent
        int goodWords = 0;
        int totalWords = 0;
        bool operator==(const Result&) const = default;
    };

    // Nothing for an empty input or one that is not a multiple of 120 bytes. A codeword that
    // cannot be corrected contributes its received data bytes and is not counted good.
    static std::optional<Result> decode(std::span<const std::uint8_t> bytes);
    // Allocation-free form: data must hold s × 110 bytes; returns goodWords, or −1 on a bad
    // length. Stops at the first bad codeword when stopAtFirstBad is set (goodWords < s then).
    static int decode(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> data,
                      bool stopAtFirstBad = false);
    // The inverse, for test transmitters: s × 110 data bytes to s × 120 interleaved bytes.
    static std::vector<std::uint8_t> encode(std::span<const std::uint8_t> data);
};
