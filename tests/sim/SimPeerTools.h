#pragma once

// Helpers for the tests that run independent decoders (faad, welle-cli) as black boxes: finding
// a program on PATH and reading the 16-bit PCM WAV files they write.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

inline std::optional<std::filesystem::path> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const auto candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

struct WavAudio {
    int channels = 0;
    int sampleRateHz = 0;
    std::vector<std::vector<double>> samples;  // per channel, full scale ±1
};

// 16-bit PCM only; a file that is missing or not of that kind gives nullopt.
inline std::optional<WavAudio> readWav(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    const auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(b[at] | (b[at + 1] << 8));
    };
    const auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF") return std::nullopt;
    WavAudio audio;
    int bits = 0;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id(b.begin() + static_cast<std::ptrdiff_t>(at),
                             b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        std::size_t size = u32(at + 4);
        if (id == "fmt " && at + 24 <= b.size()) {
            audio.channels = static_cast<int>(u16(at + 10));
            audio.sampleRateHz = static_cast<int>(u32(at + 12));
            bits = static_cast<int>(u16(at + 22));
        } else if (id == "data") {
            if (bits != 16 || audio.channels <= 0) return std::nullopt;
            // Writers that never finish the header leave the size at 0 or too large.
            if (size == 0 || at + 8 + size > b.size()) size = b.size() - at - 8;
            audio.samples.resize(static_cast<std::size_t>(audio.channels));
            const std::size_t frames = size / (2 * static_cast<std::size_t>(audio.channels));
            for (std::size_t f = 0; f < frames; ++f)
                for (int c = 0; c < audio.channels; ++c) {
                    const auto v = static_cast<std::int16_t>(
                        u16(at + 8 +
                            2 * (f * static_cast<std::size_t>(audio.channels) +
                                 static_cast<std::size_t>(c))));
                    audio.samples[static_cast<std::size_t>(c)].push_back(v / 32'768.0);
                }
            return audio;
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

}  // namespace simtest
