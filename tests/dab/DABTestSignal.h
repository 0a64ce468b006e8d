#pragma once

// A minimal mode I transmitter for tests and benchmarks: FIBs with their CRC, energy
// dispersal, the mother code, FIC puncturing, frequency interleaving, DQPSK on the phase
// reference, IFFT and guard. Written from the coding rules independently of the receiver's
// tables (only the PRS and the forward FFT are borrowed, both checked on their own).

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "dab/DABOFDM.h"
#include "device/IQSample.h"

namespace dabtest {

constexpr int kTu = 2048;
constexpr int kGuard = 504;
constexpr int kTs = 2552;
constexpr int kNull = 2656;
constexpr int kCarriers = 1536;
constexpr double kRateHz = 2'048'000.0;

using Bits = std::vector<std::uint8_t>;

inline int parity(unsigned x) {
    int p = 0;
    for (; x != 0; x &= x - 1) p ^= 1;
    return p;
}

// Rate 1/4 mother code, generators 133, 171, 145, 133 (octal), register newest bit first,
// flushed with six zeros: 4·(n + 6) code bits.
inline Bits convolutionalEncode(const Bits& in) {
    static constexpr unsigned kPolys[4] = {0133, 0171, 0145, 0133};
    Bits out;
    out.reserve(4 * (in.size() + 6));
    unsigned reg = 0;
    auto push = [&](unsigned bit) {
        reg = (reg >> 1) | (bit << 6);
        for (unsigned p : kPolys) out.push_back(static_cast<std::uint8_t>(parity(reg & p)));
    };
    for (std::uint8_t b : in) push(b & 1U);
    for (int t = 0; t < 6; ++t) push(0);
    return out;
}

// FIC puncturing of one 3096-bit block: 21 × 128 bits at PI 16, 3 × 128 at PI 15, 24 tail
// bits by 1100… (EN 300 401 11.2).
inline Bits punctureFIC(const Bits& mother) {
    const std::string pi16 = "11101110111011101110111011101110";
    const std::string pi15 = "11101110111011101110111011101100";
    const std::string tail = "110011001100110011001100";
    std::string pattern;
    for (int block = 0; block < 24; ++block) {
        for (int rep = 0; rep < 4; ++rep) pattern += block < 21 ? pi16 : pi15;
    }
    pattern += tail;
    Bits out;
    for (std::size_t n = 0; n < pattern.size() && n < mother.size(); ++n) {
        if (pattern[n] == '1') out.push_back(mother[n]);
    }
    return out;
}

// Energy dispersal: x^9 + x^5 + 1 from all ones.
inline Bits prbs(std::size_t count) {
    std::array<int, 9> stage;
    stage.fill(1);
    Bits out;
    for (std::size_t n = 0; n < count; ++n) {
        const int bit = stage[8] ^ stage[4];
        for (int s = 8; s > 0; --s) stage[static_cast<std::size_t>(s)] = stage[static_cast<std::size_t>(s - 1)];
        stage[0] = bit;
        out.push_back(static_cast<std::uint8_t>(bit));
    }
    return out;
}

// CRC-16, x^16 + x^12 + x^5 + 1 from all ones, bit by bit.
inline std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    unsigned crc = 0xFFFF;
    for (std::uint8_t byte : bytes) {
        for (int b = 7; b >= 0; --b) {
            const unsigned in = (byte >> b) & 1U;
            const unsigned top = (crc >> 15) & 1U;
            crc = (crc << 1) & 0xFFFF;
            if ((in ^ top) != 0) crc ^= 0x1021;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

// A FIB from concatenated FIGs (at most 30 bytes): end marker, zero padding, complemented CRC.
inline std::array<std::uint8_t, 32> makeFIB(const std::vector<std::uint8_t>& figs) {
    std::array<std::uint8_t, 32> fib{};
    std::size_t n = 0;
    for (; n < figs.size() && n < 30; ++n) fib[n] = figs[n];
    if (n < 30) fib[n] = 0xFF;
    const std::uint16_t crc = static_cast<std::uint16_t>(~crc16(std::span(fib).first(30)));
    fib[30] = static_cast<std::uint8_t>(crc >> 8);
    fib[31] = static_cast<std::uint8_t>(crc & 0xFF);
    return fib;
}

inline Bits toBits(std::span<const std::uint8_t> bytes) {
    Bits bits;
    for (std::uint8_t byte : bytes) {
        for (int b = 7; b >= 0; --b) bits.push_back(static_cast<std::uint8_t>((byte >> b) & 1U));
    }
    return bits;
}

// FIG builders.
inline std::vector<std::uint8_t> fig(int type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(type << 5 | static_cast<int>(data.size()))};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}
inline std::vector<std::uint8_t> label16(const std::string& text) {
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.resize(16, ' ');
    return out;
}
inline std::vector<std::uint8_t> fig1Label(int extension, std::uint32_t id, int idBytes,
                                           const std::vector<std::uint8_t>& label, int charset = 0) {
    std::vector<std::uint8_t> data{static_cast<std::uint8_t>(charset << 4 | extension)};
    for (int b = idBytes - 1; b >= 0; --b) data.push_back(static_cast<std::uint8_t>(id >> (8 * b)));
    data.insert(data.end(), label.begin(), label.end());
    data.push_back(0xFF);  // character flag field
    data.push_back(0x00);
    return fig(1, data);
}

// The 9216 FIC code bits of one frame from 12 FIBs (three per CIF).
inline Bits ficCodeBits(const std::array<std::array<std::uint8_t, 32>, 12>& fibs) {
    const Bits dispersal = prbs(768);
    Bits out;
    for (int cif = 0; cif < 4; ++cif) {
        Bits block;
        for (int f = 0; f < 3; ++f) {
            const Bits b = toBits(fibs[static_cast<std::size_t>(3 * cif + f)]);
            block.insert(block.end(), b.begin(), b.end());
        }
        for (std::size_t n = 0; n < block.size(); ++n) block[n] ^= dispersal[n];
        const Bits coded = punctureFIC(convolutionalEncode(block));
        out.insert(out.end(), coded.begin(), coded.end());
    }
    return out;
}

// Frequency interleaving: carrier of logical index i.
inline std::vector<int> interleavedCarriers() {
    std::vector<int> carriers;
    int pi = 0;
    for (int i = 0; i < kTu; ++i) {
        if (i > 0) pi = (13 * pi + 511) % kTu;
        if (pi >= 256 && pi <= 1792 && pi != 1024) carriers.push_back(pi - 1024);
    }
    return carriers;
}

struct FrameOptions {
    int binShift = 0;            // whole carriers the signal sits off centre
    double dfHz = 0.0;           // residual offset on top
    int leadSamples = 1000;      // signal before the null symbol
    bool withMSC = false;        // add the 72 MSC symbols (random bits) and a following null
    std::uint32_t mscSeed = 7;
};

struct Frame {
    std::vector<IQSample> iq;
    int prsStart = 0;            // first sample of the PRS (its guard)
    Bits mscBits;                // 72 × 3072 code bits when withMSC
};

// Time samples of one symbol (guard first) from 2048 carrier values in FFT order.
inline void appendSymbol(std::vector<IQSample>& out, const std::vector<std::complex<float>>& bins,
                         const DABOFDM& ofdm) {
    // IFFT through the forward FFT: x = conj(FFT(conj(X))) / N, scaled to unit RMS.
    std::vector<IQSample> scratch(kTs);
    for (int n = 0; n < kTu; ++n) {
        const std::complex<float> v = std::conj(bins[static_cast<std::size_t>(n)]);
        scratch[static_cast<std::size_t>(kGuard + n)] = {v.real(), v.imag()};
    }
    std::vector<std::complex<float>> y(kTu);
    ofdm.fftSymbolInto(scratch, 0, y);
    const float scale = 1.0f / std::sqrt(static_cast<float>(kCarriers));
    std::vector<IQSample> body(kTu);
    for (int n = 0; n < kTu; ++n) {
        const std::complex<float> x = std::conj(y[static_cast<std::size_t>(n)]) * scale;
        body[static_cast<std::size_t>(n)] = {x.real(), x.imag()};
    }
    out.insert(out.end(), body.end() - kGuard, body.end());
    out.insert(out.end(), body.begin(), body.end());
}

// One transmission frame carrying the given FIC code bits (9216, in logical order), shifted
// by binShift carriers plus dfHz.
inline Frame buildFrame(const Bits& ficBits, const FrameOptions& options = {}) {
    DABOFDM ofdm;
    const std::vector<int> carriers = interleavedCarriers();
    const DABOFDM::PhaseReference& prs = DABOFDM::buildPhaseReference();
    std::vector<std::complex<float>> bins(kTu);
    for (int b = 0; b < kTu; ++b) bins[static_cast<std::size_t>(b)] = {prs.re[static_cast<std::size_t>(b)], prs.im[static_cast<std::size_t>(b)]};

    Frame frame;
    frame.iq.assign(static_cast<std::size_t>(options.leadSamples + kNull), IQSample{});
    frame.prsStart = options.leadSamples + kNull;
    appendSymbol(frame.iq, bins, ofdm);

    Bits allBits = ficBits;
    const int symbols = options.withMSC ? 75 : 3;
    if (options.withMSC) {
        std::mt19937 rng(options.mscSeed);
        for (int n = 0; n < 72 * 2 * kCarriers; ++n) frame.mscBits.push_back(static_cast<std::uint8_t>(rng() & 1U));
        allBits.insert(allBits.end(), frame.mscBits.begin(), frame.mscBits.end());
    }
    const float r = 1.0f / std::sqrt(2.0f);
    for (int s = 0; s < symbols; ++s) {
        const std::uint8_t* bits = allBits.data() + static_cast<std::size_t>(s) * 2 * kCarriers;
        for (int i = 0; i < kCarriers; ++i) {
            // Code bit 0 is a positive component.
            const std::complex<float> step(r * (1.0f - 2.0f * bits[i]), r * (1.0f - 2.0f * bits[i + kCarriers]));
            const int k = carriers[static_cast<std::size_t>(i)];
            const auto bin = static_cast<std::size_t>(k > 0 ? k : kTu + k);
            bins[bin] *= step;
        }
        appendSymbol(frame.iq, bins, ofdm);
    }
    frame.iq.resize(frame.iq.size() + kNull);  // the next frame's null

    const double offsetHz = options.binShift * (kRateHz / kTu) + options.dfHz;
    if (offsetHz != 0.0) {
        for (std::size_t n = 0; n < frame.iq.size(); ++n) {
            const double phase = 2.0 * std::numbers::pi * offsetHz * static_cast<double>(n) / kRateHz;
            const std::complex<float> rot(static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase)));
            const std::complex<float> v = std::complex<float>(frame.iq[n].i, frame.iq[n].q) * rot;
            frame.iq[n] = {v.real(), v.imag()};
        }
    }
    return frame;
}

// A small ensemble: EId 0xE123 "Test Mux", two programme services with labels, one data
// service without, and three sub-channels (long form 3-A, long form 3-B, short form).
inline std::array<std::array<std::uint8_t, 32>, 12> exampleFIBs() {
    std::array<std::array<std::uint8_t, 32>, 12> fibs;
    const auto concat = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    // FIG 0/0: EId, change flags, CIF count.
    const auto fig00 = fig(0, {0x00, 0xE1, 0x23, 0x00, 0x00});
    // FIG 0/1: SubChId 1 at CU 0, long form 3-A (protection 2), 84 CU; SubChId 2 at CU 84,
    // long form 3-B (protection 6), 72 CU; SubChId 3 at CU 156, short form index 27.
    const auto fig01 = fig(0, {0x01, 0x04, 0x00, 0x88, 0x54, 0x08, 0x54, 0x98, 0x48, 0x0C, 0x9C, 0x1B});
    // FIG 0/2 programme services 0xC0DE → SubChId 1 and 0xC0DF → SubChId 3.
    const auto fig02 = fig(0, {0x02, 0xC0, 0xDE, 0x01, 0x00, 0x04, 0xC0, 0xDF, 0x01, 0x00, 0x0C});
    // FIG 0/2 data service 0xE0123456 → SubChId 2.
    const auto fig02d = fig(0, {0x22, 0xE0, 0x12, 0x34, 0x56, 0x01, 0x00, 0x08});
    fibs[0] = makeFIB(concat({fig00, fig01}));
    fibs[1] = makeFIB(fig1Label(0, 0xE123, 2, label16("Test Mux")));
    fibs[2] = makeFIB(concat({fig02, fig02d}));
    fibs[3] = makeFIB(fig1Label(1, 0xC0DE, 2, label16("Radio One")));
    fibs[4] = makeFIB(fig1Label(1, 0xC0DF, 2, label16("Radio Two")));
    for (std::size_t n = 5; n < fibs.size(); ++n) fibs[n] = makeFIB(n % 2 ? fig00 : fig02);
    return fibs;
}

}  // namespace dabtest
