#pragma once

#include <algorithm>
#include <cassert>
#include <span>
#include <vector>

#include "device/IQSample.h"

// The RTL2832's 8-bit output (VirtualRtlSdr's bytes): byte = clamp(round(v·127.5 + 127.5),
// 0, 255), the inverse of the receiver's (b - 127.5) / 127.5. Values beyond ±1 clip.
inline unsigned char quantiseToByte(float v) {
    return static_cast<unsigned char>(std::clamp(v * 127.5f + 127.5f, 0.0f, 255.0f) + 0.5f);
}

// Interleaved I, Q bytes as rtl_sdr writes them (.cu8); out must hold 2·in.size() bytes.
inline void quantiseToBytes(std::span<const IQSample> in, std::span<unsigned char> out) {
    assert(out.size() >= 2 * in.size());
    for (std::size_t n = 0; n < in.size(); ++n) {
        out[2 * n] = quantiseToByte(in[n].i);
        out[2 * n + 1] = quantiseToByte(in[n].q);
    }
}

inline std::vector<unsigned char> quantiseToBytes(std::span<const IQSample> in) {
    std::vector<unsigned char> out(2 * in.size());
    quantiseToBytes(in, out);
    return out;
}
