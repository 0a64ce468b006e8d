#include "dab/DABViterbi.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <type_traits>

namespace {

int parity(int x) { return std::popcount(static_cast<unsigned>(x)) & 1; }

// Metrics only ever grow; subtracting the best one every few steps keeps them small without
// changing any comparison. Between two renormalisations the growth is at most
// 32 steps × 4 × 32767 ≈ 4.2e6, far inside int32.
constexpr int kRenormaliseEvery = 32;

template <typename Soft>
Soft clampSoft(Soft v) {
    if constexpr (std::is_integral_v<Soft>) return std::clamp<Soft>(v, -32767, 32767);
    return v;
}

}  // namespace

DABViterbi::DABViterbi() {
    for (int x = 0; x < 128; ++x) {
        indexTable[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(
            parity(x & poly1) << 3 | parity(x & poly2) << 2 | parity(x & poly3) << 1 |
            parity(x & poly4));
    }
    for (int j = 0; j < numStates; ++j) {
        // Entering state j appends input bit j >= 32 as bit 6 of the register.
        const int p0 = (2 * j) % numStates;
        const int newest = j >= 32 ? 64 : 0;
        wordFromEven[static_cast<std::size_t>(j)] = indexTable[static_cast<std::size_t>(p0 + newest)];
        wordFromOdd[static_cast<std::size_t>(j)] = indexTable[static_cast<std::size_t>(p0 + 1 + newest)];
    }
}

template <typename Soft, typename Metric>
bool DABViterbi::run(std::span<const Soft> soft, int blockLength, std::span<std::uint8_t> out) const {
    if (blockLength < 0) return false;
    const std::size_t L = static_cast<std::size_t>(blockLength);
    if (soft.size() < 4 * (L + 6)) return false;
    assert(out.size() >= L);

    // Row r of the trellis (1 … L+5) keeps one decision bit per state: 1 = odd predecessor.
    const std::size_t steps = L + 5;
    std::vector<std::uint64_t> decisions(steps + 1);
    std::array<Metric, numStates> metric{};  // row 0: every start state equally likely
    std::array<Metric, numStates> next{};

    for (std::size_t i = 1; i <= steps; ++i) {
        const Soft* s = soft.data() + 4 * (i - 1);
        const Metric s0 = clampSoft(s[0]), s1 = clampSoft(s[1]), s2 = clampSoft(s[2]),
                     s3 = clampSoft(s[3]);
        // Cost of each code word: a soft value that disagrees with the bit adds its magnitude.
        std::array<Metric, 16> branch;
        for (int c = 0; c < 16; ++c) {
            branch[static_cast<std::size_t>(c)] = ((c & 8) ? s0 : -s0) + ((c & 4) ? s1 : -s1) +
                                                  ((c & 2) ? s2 : -s2) + ((c & 1) ? s3 : -s3);
        }
        std::uint64_t decided = 0;
        for (int j = 0; j < numStates; ++j) {
            const std::size_t p0 = static_cast<std::size_t>((2 * j) % numStates);
            const Metric m0 = metric[p0] + branch[wordFromEven[static_cast<std::size_t>(j)]];
            const Metric m1 = metric[p0 + 1] + branch[wordFromOdd[static_cast<std::size_t>(j)]];
            const bool odd = !(m0 < m1);
            next[static_cast<std::size_t>(j)] = odd ? m1 : m0;
            decided |= static_cast<std::uint64_t>(odd) << j;
        }
        decisions[i] = decided;
        metric = next;
        if (i % kRenormaliseEvery == 0) {
            const Metric best = *std::min_element(metric.begin(), metric.end());
            for (Metric& m : metric) m -= best;
        }
    }

    // min_element returns the first minimum: the lowest state number on ties.
    int state = static_cast<int>(std::min_element(metric.begin(), metric.end()) - metric.begin());
    for (std::size_t r = steps; r >= 1; --r) {
        if (r <= L) out[r - 1] = state >= 32 ? 1 : 0;
        const int odd = static_cast<int>((decisions[r] >> state) & 1U);
        state = (2 * state) % numStates + odd;
    }
    return true;
}

bool DABViterbi::deconvolve(std::span<const float> soft, int blockLength,
                            std::span<std::uint8_t> out) const {
    return run<float, float>(soft, blockLength, out);
}

bool DABViterbi::deconvolve(std::span<const int> soft, int blockLength,
                            std::span<std::uint8_t> out) const {
    return run<int, std::int32_t>(soft, blockLength, out);
}

std::vector<std::uint8_t> DABViterbi::deconvolve(std::span<const float> soft, int blockLength) const {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(blockLength, 0)));
    if (!deconvolve(soft, blockLength, out)) return {};
    return out;
}

std::vector<std::uint8_t> DABViterbi::deconvolve(std::span<const int> soft, int blockLength) const {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(blockLength, 0)));
    if (!deconvolve(soft, blockLength, out)) return {};
    return out;
}
