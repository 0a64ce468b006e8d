#include "dab/DABReedSolomonFrame.h"

#include <array>

#include "dab/DABReedSolomon.h"

namespace {
constexpr std::size_t kN = DABReedSolomon::kCodewordBytes;
constexpr std::size_t kK = DABReedSolomon::kDataBytes;
}  // namespace

int DABReedSolomonFrame::decode(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> data,
                                bool stopAtFirstBad) {
    if (bytes.empty() || bytes.size() % kN != 0) return -1;
    const std::size_t s = bytes.size() / kN;
    if (data.size() < s * kK) return -1;
    std::array<std::uint8_t, kN> word{};
    std::array<std::uint8_t, kK> corrected{};
    int good = 0;
    for (std::size_t k = 0; k < s; ++k) {
        for (std::size_t j = 0; j < kN; ++j) word[j] = bytes[j * s + k];
        const bool ok = DABReedSolomon::decodeCodeword(word, corrected);
        if (ok) ++good;
        for (std::size_t j = 0; j < kK; ++j) data[j * s + k] = ok ? corrected[j] : word[j];
        if (!ok && stopAtFirstBad) break;
    }
    return good;
}

std::optional<DABReedSolomonFrame::Result> DABReedSolomonFrame::decode(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() % kN != 0) return std::nullopt;
    const std::size_t s = bytes.size() / kN;
    Result result{.data = std::vector<std::uint8_t>(s * kK), .totalWords = static_cast<int>(s)};
    result.goodWords = decode(bytes, result.data);
    return result;
}

std::vector<std::uint8_t> DABReedSolomonFrame::encode(std::span<const std::uint8_t> data) {
    if (data.empty() || data.size() % kK != 0) return {};
    const std::size_t s = data.size() / kK;
    std::vector<std::uint8_t> out(s * kN);
    std::array<std::uint8_t, kK> block{};
    for (std::size_t k = 0; k < s; ++k) {
        for (std::size_t j = 0; j < kK; ++j) block[j] = data[j * s + k];
        const auto word = DABReedSolomon::encodeCodeword(block);
        for (std::size_t j = 0; j < kN; ++j) out[j * s + k] = word[j];
    }
    return out;
}
