#include "dab/DABReedSolomon.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFieldSize = 255;
constexpr int kShortened = kFieldSize - DABReedSolomon::kCodewordBytes;  // 135 zero symbols
constexpr int kRoots = DABReedSolomon::kParityBytes;

struct Field {
    std::array<std::uint8_t, 2 * kFieldSize> exp{};  // doubled so products need no modulo
    std::array<int, 256> log{};
    constexpr Field() {
        unsigned x = 1;
        for (int i = 0; i < kFieldSize; ++i) {
            exp[static_cast<std::size_t>(i)] = exp[static_cast<std::size_t>(i + kFieldSize)] =
                static_cast<std::uint8_t>(x);
            log[x] = i;
            x <<= 1;
            if (x & 0x100) x ^= 0x11D;
        }
    }
    constexpr std::uint8_t mul(std::uint8_t a, std::uint8_t b) const {
        if (a == 0 || b == 0) return 0;
        return exp[static_cast<std::size_t>(log[a] + log[b])];
    }
    constexpr std::uint8_t div(std::uint8_t a, std::uint8_t b) const {
        if (a == 0) return 0;
        return exp[static_cast<std::size_t>(log[a] - log[b] + kFieldSize)];
    }
    constexpr std::uint8_t pow(int e) const {
        return exp[static_cast<std::size_t>(((e % kFieldSize) + kFieldSize) % kFieldSize)];
    }
};

constexpr Field gf;

// g(x) = Π (x + α^j), j = 0 … 9; coefficient k belongs to x^k.
constexpr std::array<std::uint8_t, kRoots + 1> kGenerator = [] {
    std::array<std::uint8_t, kRoots + 1> g{};
    g[0] = 1;
    for (int j = 0; j < kRoots; ++j) {
        const std::uint8_t root = gf.pow(j);
        for (int k = j + 1; k >= 1; --k) {
            g[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(
                g[static_cast<std::size_t>(k - 1)] ^ gf.mul(g[static_cast<std::size_t>(k)], root));
        }
        g[0] = gf.mul(g[0], root);
    }
    return g;
}();

// Polynomial p (coefficient k of x^k, degree < size) at x.
std::uint8_t evaluate(std::span<const std::uint8_t> p, std::uint8_t x) {
    std::uint8_t y = 0;
    for (std::size_t k = p.size(); k-- > 0;) y = static_cast<std::uint8_t>(gf.mul(y, x) ^ p[k]);
    return y;
}

}  // namespace

bool DABReedSolomon::decodeCodeword(std::span<const std::uint8_t> word, std::span<std::uint8_t> data) {
    if (word.size() != kCodewordBytes || data.size() < kDataBytes) return false;
    // Byte i of the word is the coefficient of x^(119 − i); the zero padding adds nothing.
    std::array<std::uint8_t, kRoots> syndrome{};
    bool clean = true;
    for (int j = 0; j < kRoots; ++j) {
        const std::uint8_t x = gf.pow(j);
        std::uint8_t s = 0;
        for (const std::uint8_t c : word) s = static_cast<std::uint8_t>(gf.mul(s, x) ^ c);
        syndrome[static_cast<std::size_t>(j)] = s;
        clean = clean && s == 0;
    }
    if (clean) {
        std::copy_n(word.begin(), kDataBytes, data.begin());
        return true;
    }

    // Berlekamp–Massey: the shortest Λ(x) = Π (1 + X_k x) that generates the syndromes.
    std::array<std::uint8_t, kRoots + 1> lambda{}, previous{}, scratch{};
    lambda[0] = previous[0] = 1;
    int degree = 0, shift = 1;
    std::uint8_t previousDiscrepancy = 1;
    for (int n = 0; n < kRoots; ++n) {
        std::uint8_t d = syndrome[static_cast<std::size_t>(n)];
        for (int i = 1; i <= degree; ++i) {
            d ^= gf.mul(lambda[static_cast<std::size_t>(i)], syndrome[static_cast<std::size_t>(n - i)]);
        }
        if (d == 0) {
            ++shift;
            continue;
        }
        const std::uint8_t coef = gf.div(d, previousDiscrepancy);
        scratch = lambda;
        for (int i = 0; i + shift <= kRoots; ++i) {
            lambda[static_cast<std::size_t>(i + shift)] ^= gf.mul(coef, previous[static_cast<std::size_t>(i)]);
        }
        if (2 * degree <= n) {
            degree = n + 1 - degree;
            previous = scratch;
            previousDiscrepancy = d;
            shift = 1;
        } else {
            ++shift;
        }
    }
    if (degree == 0 || degree > kRoots / 2) return false;

    // Chien search over every power e of the full 255 word: X = α^e is a root's inverse.
    std::array<int, kRoots / 2> powers{};
    int found = 0;
    for (int e = 0; e < kFieldSize; ++e) {
        if (evaluate(lambda, gf.pow(-e)) != 0) continue;
        if (found == degree) return false;
        powers[static_cast<std::size_t>(found++)] = e;
    }
    if (found != degree) return false;

    // Forney with the first root α^0: error = X · Ω(X⁻¹) / Λ'(X⁻¹), Ω = S·Λ mod x^10.
    std::array<std::uint8_t, kRoots> omega{};
    for (int i = 0; i < kRoots; ++i) {
        for (int k = 0; k <= std::min(i, degree); ++k) {
            omega[static_cast<std::size_t>(i)] ^= gf.mul(syndrome[static_cast<std::size_t>(i - k)],
                                                         lambda[static_cast<std::size_t>(k)]);
        }
    }
    std::array<std::uint8_t, kCodewordBytes> corrected{};
    std::copy(word.begin(), word.end(), corrected.begin());
    for (int k = 0; k < found; ++k) {
        const int e = powers[static_cast<std::size_t>(k)];
        // A located error among the 135 zeros the transmitter never sent means the word is
        // beyond repair: a real error there is impossible.
        if (e >= kCodewordBytes) return false;
        const std::uint8_t xInv = gf.pow(-e);
        std::uint8_t derivative = 0;  // odd terms of Λ only, in characteristic 2
        for (int i = 1; i <= degree; i += 2) {
            derivative ^= gf.mul(lambda[static_cast<std::size_t>(i)], gf.pow(-e * (i - 1)));
        }
        if (derivative == 0) return false;
        const std::uint8_t value = gf.mul(gf.pow(e), gf.div(evaluate(omega, xInv), derivative));
        corrected[static_cast<std::size_t>(kCodewordBytes - 1 - e)] ^= value;
    }
    std::copy_n(corrected.begin(), kDataBytes, data.begin());
    return true;
}

std::optional<std::array<std::uint8_t, DABReedSolomon::kDataBytes>> DABReedSolomon::decodeCodeword(
    std::span<const std::uint8_t> word) {
    std::array<std::uint8_t, kDataBytes> data{};
    if (!decodeCodeword(word, data)) return std::nullopt;
    return data;
}

std::array<std::uint8_t, DABReedSolomon::kCodewordBytes> DABReedSolomon::encodeCodeword(
    std::span<const std::uint8_t, kDataBytes> data) {
    // Parity = d(x)·x^10 mod g(x), by long division through a shift register.
    std::array<std::uint8_t, kRoots> remainder{};  // remainder[0] = highest power
    for (const std::uint8_t byte : data) {
        const std::uint8_t feedback = byte ^ remainder[0];
        for (int k = 0; k < kRoots - 1; ++k) {
            remainder[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(
                remainder[static_cast<std::size_t>(k + 1)] ^
                gf.mul(feedback, kGenerator[static_cast<std::size_t>(kRoots - 1 - k)]));
        }
        remainder[kRoots - 1] = gf.mul(feedback, kGenerator[0]);
    }
    std::array<std::uint8_t, kCodewordBytes> word{};
    std::copy(data.begin(), data.end(), word.begin());
    std::copy(remainder.begin(), remainder.end(), word.begin() + kDataBytes);
    return word;
}
