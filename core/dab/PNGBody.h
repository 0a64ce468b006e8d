#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Structural check of a PNG image (ISO/IEC 15948 clause 5): the signature, then chunks of
// length, type, data and CRC. Chunk CRCs are not checked; the image decoder does that.
struct PNGBody {
    static constexpr std::array<std::uint8_t, 8> signature = {0x89, 'P',  'N',  'G',
                                                              0x0D, 0x0A, 0x1A, 0x0A};
    static constexpr std::array<std::uint8_t, 4> ihdr = {'I', 'H', 'D', 'R'};
    static constexpr std::array<std::uint8_t, 4> idat = {'I', 'D', 'A', 'T'};
    static constexpr std::array<std::uint8_t, 4> iend = {'I', 'E', 'N', 'D'};
    static constexpr std::size_t kMinBytes = 32;
    static constexpr std::uint32_t kMaxChunkBytes = 16'777'216;

    // The image cut after its IEND chunk, or nothing when it is not a complete PNG: IHDR (13
    // bytes) first, at least one IDAT, an empty IEND, every chunk inside the data.
    static std::optional<std::vector<std::uint8_t>> validate(std::span<const std::uint8_t> bytes);
};
