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

// 64 flags of 0 or 1, one per byte, into one word (flag j → bit j). Multiplying eight flags by
// 0x0102040810204080 moves byte k's bit to bit 56 + k with no two partial products on the same
// bit, so no carries disturb the top byte.
std::uint64_t packBits(const std::array<std::uint8_t, 64>& flags) {
    std::uint64_t packed = 0;
    for (std::size_t group = 0; group < 8; ++group) {
        std::uint64_t eight = 0;
        for (std::size_t b = 0; b < 8; ++b) eight |= std::uint64_t{flags[8 * group + b]} << (8 * b);
        packed |= ((eight * 0x0102040810204080ULL) >> 56) << (8 * group);
    }
    return packed;
}

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
    for (int j = 0; j < numStates / 2; ++j) {
        // Into state j from 2j: register = 2j (the new input bit 0 sits in bit 6).
        const int word = indexTable[static_cast<std::size_t>(2 * j)];
        for (int k = 0; k < 4; ++k) {
            branchSign[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] =
                ((word >> (3 - k)) & 1) ? 1 : -1;
        }
    }
}

// Every generator taps both the newest and the oldest register bit, so flipping either one
// complements the code word: that is what lets one metric serve a whole butterfly.
static_assert((DABViterbi::poly1 & DABViterbi::poly2 & DABViterbi::poly3 & DABViterbi::poly4 & 0x41) == 0x41);

template <typename Soft, typename Metric>
bool DABViterbi::run(std::span<const Soft> soft, int blockLength, std::span<std::uint8_t> out) const {
    if (blockLength < 0) return false;
    const std::size_t L = static_cast<std::size_t>(blockLength);
    if (soft.size() < 4 * (L + 6)) return false;
    assert(out.size() >= L);
    constexpr int kHalf = numStates / 2;

    std::array<std::array<Metric, kHalf>, 4> sign;
    for (std::size_t k = 0; k < 4; ++k) {
        for (std::size_t j = 0; j < kHalf; ++j) sign[k][j] = static_cast<Metric>(branchSign[k][j]);
    }
    // Row r of the trellis (1 … L+5) keeps one decision bit per state: 1 = odd predecessor.
    const std::size_t steps = L + 5;
    std::vector<std::uint64_t> decisions(steps + 1);
    std::array<Metric, numStates> metric{};  // row 0: every start state equally likely

    for (std::size_t i = 1; i <= steps; ++i) {
        const Soft* s = soft.data() + 4 * (i - 1);
        const Metric s0 = clampSoft(s[0]), s1 = clampSoft(s[1]), s2 = clampSoft(s[2]),
                     s3 = clampSoft(s[3]);
        // A soft value that disagrees with its code bit adds its magnitude.
        std::array<Metric, kHalf> branch, even, odd, low, high;
        std::array<std::uint8_t, numStates> odds;
        for (std::size_t j = 0; j < kHalf; ++j) {
            branch[j] = sign[0][j] * s0 + sign[1][j] * s1 + sign[2][j] * s2 + sign[3][j] * s3;
            even[j] = metric[2 * j];
            odd[j] = metric[2 * j + 1];
        }
        for (std::size_t j = 0; j < kHalf; ++j) {
            const Metric a0 = even[j] + branch[j], a1 = odd[j] - branch[j];
            const Metric b0 = even[j] - branch[j], b1 = odd[j] + branch[j];
            // The even predecessor only when strictly better: ties take the odd one.
            odds[j] = !(a0 < a1);
            odds[j + kHalf] = !(b0 < b1);
            low[j] = a0 < a1 ? a0 : a1;
            high[j] = b0 < b1 ? b0 : b1;
        }
        decisions[i] = packBits(odds);
        std::copy(low.begin(), low.end(), metric.begin());
        std::copy(high.begin(), high.end(), metric.begin() + kHalf);
        if (i % kRenormaliseEvery == 0) {
            const Metric best = *std::min_element(metric.begin(), metric.end());
            for (Metric& m : metric) m -= best;
        }
    }

    // min_element returns the first minimum: the lowest state number on ties.
    int state = static_cast<int>(std::min_element(metric.begin(), metric.end()) - metric.begin());
    for (std::size_t r = steps; r >= 1; --r) {
        if (r <= L) out[r - 1] = state >= 32 ? 1 : 0;
        const int oddPredecessor = static_cast<int>((decisions[r] >> state) & 1U);
        state = (2 * state) % numStates + oddPredecessor;
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
