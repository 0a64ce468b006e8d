#include "dab/DABTimeDeinterleaver.h"

#include <algorithm>
#include <cassert>

DABTimeDeinterleaver::DABTimeDeinterleaver(int sizeCU)
    : bits(std::max(sizeCU, 0) * 64), buf(static_cast<std::size_t>(bits) * kDepth, 0.0f) {}

bool DABTimeDeinterleaver::pushCIF(std::span<const float> cif, std::span<float> out) {
    if (bits == 0 || cif.size() != static_cast<std::size_t>(bits)) return false;
    const auto n = static_cast<std::size_t>(bits);
    std::copy(cif.begin(), cif.end(), buf.begin() + static_cast<std::ptrdiff_t>(w * n));
    ++filled;
    bool produced = false;
    if (filled >= kDepth) {
        assert(out.size() >= n);
        // Bit i left the transmitter 15 − map[i mod 16] CIFs after its logical CIF, so it sits
        // in the slot written that many pushes ago.
        std::array<const float*, kDepth> source;
        for (std::size_t k = 0; k < kDepth; ++k) {
            const int slot = (w - (kDepth - 1) + map[k] + 2 * kDepth) % kDepth;
            source[k] = buf.data() + static_cast<std::size_t>(slot) * n;
        }
        for (std::size_t i = 0; i < n; ++i) out[i] = source[i % kDepth][i];
        produced = true;
    }
    w = (w + 1) % kDepth;
    return produced;
}

std::optional<std::vector<float>> DABTimeDeinterleaver::pushCIF(std::span<const float> cif) {
    std::vector<float> out(static_cast<std::size_t>(bits));
    if (!pushCIF(cif, out)) return std::nullopt;
    return out;
}

void DABTimeDeinterleaver::reset() {
    std::fill(buf.begin(), buf.end(), 0.0f);
    w = 0;
    filled = 0;
}
