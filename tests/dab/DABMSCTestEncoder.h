#pragma once

// The transmitter side of a DAB+ audio sub-channel, for tests and benchmarks: superframes with
// Reed-Solomon parity, energy dispersal, the mother code, EEP puncturing from the reference
// tables and the time interleaver. Written from the coding rules; the field arithmetic and the
// puncturing vectors do not come from the receiver's tables.

#include <array>
#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <span>
#include <string>
#include <vector>

#include "DABTestSignal.h"

namespace dabtest {

// Puncturing vectors 1…24 and the tail vector as '0'/'1' strings, read from the reference data.
inline const std::map<std::string, std::string>& punctureVectors() {
    static const std::map<std::string, std::string> vectors = [] {
        std::map<std::string, std::string> out;
        std::ifstream file(VANTIREL_SHARED_DATA_DIR "/dab_puncture_vectors.txt");
        std::string line;
        while (std::getline(file, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            std::string key, bits;
            fields >> key >> bits;
            out[key] = bits;
        }
        return out;
    }();
    return vectors;
}

struct TestProfile {
    int L1 = 0, L2 = 0, PI1 = 0, PI2 = 0;
};

// Punctures a rate-1/4 block of 4·(L + 6) bits: L1 × 128 bits by PI1, L2 × 128 by PI2, tail.
inline Bits puncture(const Bits& mother, const TestProfile& p) {
    const auto& v = punctureVectors();
    std::string pattern;
    for (int block = 0; block < p.L1 + p.L2; ++block) {
        const std::string& vec = v.at(std::to_string(block < p.L1 ? p.PI1 : p.PI2));
        for (int rep = 0; rep < 4; ++rep) pattern += vec;
    }
    pattern += v.at("X");
    Bits out;
    for (std::size_t n = 0; n < pattern.size() && n < mother.size(); ++n) {
        if (pattern[n] == '1') out.push_back(mother[n]);
    }
    return out;
}

// Data bits of one CIF to transmitted bits: dispersal, mother code, puncturing.
inline Bits encodeCIF(const Bits& data, const TestProfile& profile) {
    Bits scrambled = data;
    const Bits seq = prbs(data.size());
    for (std::size_t n = 0; n < data.size(); ++n) scrambled[n] ^= seq[n];
    return puncture(convolutionalEncode(scrambled), profile);
}

// Bit 0 → +1, bit 1 → −1, plus Gaussian noise of the given deviation.
inline std::vector<float> toSoftValues(const Bits& bits, float noise = 0.0f, std::uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    std::vector<float> soft;
    soft.reserve(bits.size());
    for (std::uint8_t b : bits) soft.push_back((b ? -1.0f : 1.0f) + (noise > 0.0f ? noise * gauss(rng) : 0.0f));
    return soft;
}

inline std::vector<std::uint8_t> randomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// The time interleaver: transmitted CIF t carries bit i of logical CIF t − map[i mod 16].
class TestTimeInterleaver {
public:
    explicit TestTimeInterleaver(std::size_t bits) : history(16, std::vector<float>(bits, 0.0f)) {}
    std::vector<float> push(const std::vector<float>& logical) {
        history[static_cast<std::size_t>(t % 16)] = logical;
        static constexpr int kDelay[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
        std::vector<float> sent(logical.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const int source = t - kDelay[i % 16];
            sent[i] = source < 0 ? 0.0f : history[static_cast<std::size_t>(source % 16)][i];
        }
        ++t;
        return sent;
    }

private:
    std::vector<std::vector<float>> history;
    int t = 0;
};

// GF(2^8) by shift and add, x^8 + x^4 + x^3 + x^2 + 1.
inline std::uint8_t gfMul(std::uint8_t a, std::uint8_t b) {
    unsigned r = 0, x = a;
    for (; b != 0; b >>= 1) {
        if (b & 1U) r ^= x;
        x <<= 1;
        if (x & 0x100U) x ^= 0x11DU;
    }
    return static_cast<std::uint8_t>(r);
}

inline std::uint8_t gfPow2(int e) {
    std::uint8_t r = 1;
    for (int n = 0; n < e; ++n) r = gfMul(r, 2);
    return r;
}

// Word (byte 0 = highest power) evaluated at x.
inline std::uint8_t evaluateWord(std::span<const std::uint8_t> word, std::uint8_t x) {
    std::uint8_t y = 0;
    for (std::uint8_t c : word) y = static_cast<std::uint8_t>(gfMul(y, x) ^ c);
    return y;
}

// RS(120, 110) codeword: parity = data·x^10 mod Π (x + α^j), j = 0…9.
inline std::array<std::uint8_t, 120> rsEncode(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> g = {1};  // highest power first
    for (int j = 0; j < 10; ++j) {
        std::vector<std::uint8_t> next(g.size() + 1, 0);
        for (std::size_t k = 0; k < g.size(); ++k) {
            next[k] ^= g[k];
            next[k + 1] ^= gfMul(g[k], gfPow2(j));
        }
        g = next;
    }
    std::vector<std::uint8_t> work(data.begin(), data.end());
    work.resize(120, 0);
    for (std::size_t n = 0; n < 110; ++n) {
        const std::uint8_t coef = work[n];
        if (coef == 0) continue;
        for (std::size_t k = 0; k < g.size(); ++k) work[n + k] ^= gfMul(g[k], coef);
    }
    std::array<std::uint8_t, 120> word{};
    for (std::size_t n = 0; n < 110; ++n) word[n] = data[n];
    for (std::size_t n = 110; n < 120; ++n) word[n] = work[n];
    return word;
}

// s × 110 data bytes to s × 120 bytes, codeword k byte j sent as byte j·s + k.
inline std::vector<std::uint8_t> rsEncodeSuperframe(std::span<const std::uint8_t> data) {
    const std::size_t s = data.size() / 110;
    std::vector<std::uint8_t> out(s * 120);
    for (std::size_t k = 0; k < s; ++k) {
        std::vector<std::uint8_t> block(110);
        for (std::size_t j = 0; j < 110; ++j) block[j] = data[j * s + k];
        const auto word = rsEncode(block);
        for (std::size_t j = 0; j < 120; ++j) out[j * s + k] = word[j];
    }
    return out;
}

// MSB-first bit writer for hand-built AAC payloads.
class BitWriter {
public:
    void put(unsigned value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if (used % 8 == 0) bytes.push_back(0);
            if ((value >> b) & 1U) bytes.back() |= static_cast<std::uint8_t>(0x80U >> (used % 8));
            ++used;
        }
    }
    std::vector<std::uint8_t> finish() { return bytes; }  // the last byte is zero-padded

private:
    std::vector<std::uint8_t> bytes;
    std::size_t used = 0;
};

// One individual channel stream with no spectral data: a silent long window.
inline void silentICS(BitWriter& w) {
    w.put(100, 8);  // global_gain
    w.put(0, 1);    // ics_reserved_bit
    w.put(0, 2);    // ONLY_LONG_SEQUENCE
    w.put(0, 1);    // window_shape
    w.put(0, 6);    // max_sfb = 0: no sections, no scale factors
    w.put(0, 1);    // predictor_data_present
    w.put(0, 1);    // pulse_data_present
    w.put(0, 1);    // tns_data_present
    w.put(0, 1);    // gain_control_data_present
}

// A raw AAC-LC data block of digital silence (ISO/IEC 14496-3 syntax): an SCE or a CPE
// without common window, optionally led by a data stream element, then END.
inline std::vector<std::uint8_t> silentAU(bool stereo, std::span<const std::uint8_t> dse = {}) {
    BitWriter w;
    if (!dse.empty()) {
        w.put(4, 3);  // ID_DSE
        w.put(0, 4);  // element_instance_tag
        w.put(0, 1);  // data_byte_align_flag
        w.put(static_cast<unsigned>(dse.size()), 8);
        for (std::uint8_t b : dse) w.put(b, 8);
    }
    if (stereo) {
        w.put(1, 3);  // ID_CPE
        w.put(0, 4);
        w.put(0, 1);  // common_window
        silentICS(w);
        silentICS(w);
    } else {
        w.put(0, 3);  // ID_SCE
        w.put(0, 4);
        silentICS(w);
    }
    w.put(7, 3);  // ID_END
    return w.finish();
}

// An AU with its complemented CRC-16 appended.
inline std::vector<std::uint8_t> withCRC(std::vector<std::uint8_t> au) {
    const auto crc = static_cast<std::uint16_t>(~crc16(au));
    au.push_back(static_cast<std::uint8_t>(crc >> 8));
    au.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return au;
}

// The s × 110 data bytes of a superframe: header flags, AU starts, the AUs (each with its CRC)
// and zero fill up to the end, which the last AU absorbs.
inline std::vector<std::uint8_t> buildSuperframe(std::size_t s, std::uint8_t flags,
                                                 const std::vector<std::vector<std::uint8_t>>& aus) {
    const bool dac = flags & 0x40, sbr = flags & 0x20;
    const std::size_t first = dac ? (sbr ? 6 : 11) : (sbr ? 5 : 8);
    std::vector<std::uint8_t> data(s * 110, 0);
    data[2] = flags;
    std::size_t pos = first;
    std::vector<std::size_t> starts;
    for (const auto& au : aus) {
        starts.push_back(pos);
        std::copy(au.begin(), au.end(), data.begin() + static_cast<std::ptrdiff_t>(pos));
        pos += au.size();
    }
    BitWriter w;
    for (std::size_t i = 1; i < starts.size(); ++i) w.put(static_cast<unsigned>(starts[i]), 12);
    const auto packed = w.finish();
    std::copy(packed.begin(), packed.end(), data.begin() + 3);
    // The last AU's CRC sits at the very end; move it there.
    if (!aus.empty()) {
        const auto& last = aus.back();
        const std::size_t lastStart = starts.back();
        std::fill(data.begin() + static_cast<std::ptrdiff_t>(lastStart), data.end(), 0);
        std::vector<std::uint8_t> padded(last.begin(), last.end() - 2);
        padded.resize(data.size() - lastStart - 2, 0);
        const auto body = withCRC(padded);
        std::copy(body.begin(), body.end(), data.begin() + static_cast<std::ptrdiff_t>(lastStart));
    }
    return data;
}

}  // namespace dabtest
