#include "dab/DABFrequencyDeinterleaver.h"

#include <set>

namespace {
constexpr int kHalfCarriers = 768;
constexpr std::size_t kBits = 2 * 2 * kHalfCarriers;
}  // namespace

DABFrequencyDeinterleaver::DABFrequencyDeinterleaver() : DABFrequencyDeinterleaver(Config{}) {}

DABFrequencyDeinterleaver::DABFrequencyDeinterleaver(Config config) {
    if (config.Tu <= 0) return;
    permTable.reserve(2 * kHalfCarriers);
    int pi = 0;
    for (int i = 0; i < config.Tu; ++i) {
        if (i > 0) pi = static_cast<int>((13LL * pi + config.V1) % config.Tu);
        if (pi >= config.lwb && pi <= config.upb && pi != config.Tu / 2) {
            permTable.push_back(pi - config.Tu / 2);
        }
    }
    deinterleaveIndex.reserve(permTable.size());
    for (const int k : permTable) deinterleaveIndex.push_back(k < 0 ? k + 768 : k + 767);
}

bool DABFrequencyDeinterleaver::isValid() const {
    if (permTable.size() != 2 * kHalfCarriers) return false;
    std::set<int> seen;
    for (const int k : permTable) {
        if (k == 0 || k < -kHalfCarriers || k > kHalfCarriers) return false;
        if (!seen.insert(k).second) return false;
    }
    return true;
}

std::vector<std::uint8_t> DABFrequencyDeinterleaver::deinterleave(std::span<const std::uint8_t> bits) const {
    std::vector<std::uint8_t> out(bits.begin(), bits.end());
    if (bits.size() != kBits || !isValid()) return out;
    for (std::size_t i = 0; i < deinterleaveIndex.size(); ++i) {
        const auto from = static_cast<std::size_t>(deinterleaveIndex[i]);
        out[2 * i] = bits[2 * from];
        out[2 * i + 1] = bits[2 * from + 1];
    }
    return out;
}

std::vector<std::uint8_t> DABFrequencyDeinterleaver::interleave(std::span<const std::uint8_t> bits) const {
    std::vector<std::uint8_t> out(bits.begin(), bits.end());
    if (bits.size() != kBits || !isValid()) return out;
    for (std::size_t i = 0; i < deinterleaveIndex.size(); ++i) {
        const auto to = static_cast<std::size_t>(deinterleaveIndex[i]);
        out[2 * to] = bits[2 * i];
        out[2 * to + 1] = bits[2 * i + 1];
    }
    return out;
}
