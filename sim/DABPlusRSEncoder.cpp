#include "sim/DABPlusRSEncoder.h"

namespace {
constexpr unsigned kFieldPolynomial = 0x11D;  // x^8 + x^4 + x^3 + x^2 + 1
}

DABPlusRSEncoder::DABPlusRSEncoder() {
    unsigned x = 1;
    for (int i = 0; i < 255; ++i) {
        exp[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(x);
        log[x] = i;
        x <<= 1;
        if (x & 0x100) x ^= kFieldPolynomial;
    }
    for (int i = 255; i < 512; ++i)
        exp[static_cast<std::size_t>(i)] = exp[static_cast<std::size_t>(i - 255)];
    // g(x) = (x + α^0)(x + α^1) ... (x + α^9), built up one factor at a time.
    generator[0] = 1;
    for (int r = 0; r < kParityBytes; ++r) {
        for (int j = r + 1; j > 0; --j)
            generator[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(
                generator[static_cast<std::size_t>(j - 1)] ^
                multiply(generator[static_cast<std::size_t>(j)], power(r)));
        generator[0] = multiply(generator[0], power(r));
    }
}

std::uint8_t DABPlusRSEncoder::multiply(std::uint8_t a, std::uint8_t b) const {
    if (a == 0 || b == 0) return 0;
    return exp[static_cast<std::size_t>(log[a] + log[b])];
}

std::uint8_t DABPlusRSEncoder::power(int exponent) const {
    return exp[static_cast<std::size_t>(((exponent % 255) + 255) % 255)];
}

void DABPlusRSEncoder::encode(std::span<const std::uint8_t, kDataBytes> data,
                              std::span<std::uint8_t, kParityBytes> parity) const {
    // Division of data(x)·x^10 by g(x) in a shift register; reg[9] holds the x^9 coefficient.
    std::array<std::uint8_t, kParityBytes> reg{};
    for (const std::uint8_t d : data) {
        const std::uint8_t feedback = d ^ reg[kParityBytes - 1];
        for (int j = kParityBytes - 1; j > 0; --j)
            reg[static_cast<std::size_t>(j)] =
                reg[static_cast<std::size_t>(j - 1)] ^
                multiply(feedback, generator[static_cast<std::size_t>(j)]);
        reg[0] = multiply(feedback, generator[0]);
    }
    for (int j = 0; j < kParityBytes; ++j)
        parity[static_cast<std::size_t>(j)] = reg[static_cast<std::size_t>(kParityBytes - 1 - j)];
}
