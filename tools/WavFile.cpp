#include "WavFile.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace {

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

WavAudio readWavFirstChannel(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string() + ": " + std::strerror(errno));
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        throw std::runtime_error(path.string() + " is not a WAV file");

    int format = 0, channels = 0, bits = 0;
    double rate = 0.0;
    const unsigned char* data = nullptr;
    std::size_t dataSize = 0;
    for (std::size_t pos = 12; pos + 8 <= bytes.size();) {
        const std::uint32_t size = le32(&bytes[pos + 4]);
        const std::size_t body = pos + 8;
        const std::size_t available = std::min<std::size_t>(size, bytes.size() - body);
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && available >= 16) {
            format = le16(&bytes[body]);
            channels = le16(&bytes[body + 2]);
            rate = le32(&bytes[body + 4]);
            bits = le16(&bytes[body + 14]);
            if (format == 0xFFFE && available >= 26) format = le16(&bytes[body + 24]);  // extensible
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            data = &bytes[body];
            dataSize = available;
        }
        pos = body + size + (size & 1);
    }
    if (data == nullptr || channels < 1 || rate <= 0)
        throw std::runtime_error(path.string() + ": no audio data");
    const bool pcm = format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool ieeeFloat = format == 3 && bits == 32;
    if (!pcm && !ieeeFloat)
        throw std::runtime_error(path.string() + ": unsupported WAV format " + std::to_string(format) +
                                 "/" + std::to_string(bits) + " bit");

    WavAudio audio{.sampleRateHz = rate, .channels = channels, .samples = {}};
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * (bits / 8);
    const std::size_t frames = dataSize / frameBytes;
    audio.samples.resize(frames);
    for (std::size_t k = 0; k < frames; ++k) {
        const unsigned char* p = data + k * frameBytes;
        float v = 0.0f;
        if (ieeeFloat) {
            std::memcpy(&v, p, 4);
        } else if (bits == 8) {
            v = (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        } else if (bits == 16) {
            v = static_cast<float>(static_cast<std::int16_t>(le16(p))) / 32768.0f;
        } else if (bits == 24) {
            const std::int32_t x = static_cast<std::int32_t>((p[0] << 8) | (p[1] << 16) | (p[2] << 24)) >> 8;
            v = static_cast<float>(x) / 8388608.0f;
        } else {
            v = static_cast<float>(static_cast<std::int32_t>(le32(p))) / 2147483648.0f;
        }
        audio.samples[k] = std::isfinite(v) ? v : 0.0f;
    }
    return audio;
}

std::vector<float> resampleAudio(const std::vector<float>& in, double inRateHz, double outRateHz) {
    if (in.empty() || inRateHz == outRateHz) return in;
    const double ratio = outRateHz / inRateHz;
    // Cut below the lower Nyquist frequency so a downward conversion does not alias.
    const double cutoff = 0.45 * std::min(1.0, ratio);  // cycles per input sample
    constexpr int kHalfTaps = 16;
    const double halfWidth = kHalfTaps / std::min(1.0, ratio);
    const auto outCount = static_cast<std::size_t>(std::floor(static_cast<double>(in.size()) * ratio));
    std::vector<float> out(outCount);
    for (std::size_t n = 0; n < outCount; ++n) {
        const double t = static_cast<double>(n) / ratio;  // position in input samples
        const auto first = static_cast<long>(std::ceil(t - halfWidth));
        const auto last = static_cast<long>(std::floor(t + halfWidth));
        double sum = 0.0, weight = 0.0;
        for (long k = std::max(0L, first); k <= std::min(static_cast<long>(in.size()) - 1, last); ++k) {
            const double x = static_cast<double>(k) - t;
            const double sinc = x == 0.0 ? 1.0 : std::sin(2.0 * std::numbers::pi * cutoff * x) / (std::numbers::pi * x) / (2.0 * cutoff);
            const double window = 0.5 + 0.5 * std::cos(std::numbers::pi * x / halfWidth);  // Hann
            const double w = sinc * window;
            sum += w * in[static_cast<std::size_t>(k)];
            weight += w;
        }
        out[n] = weight != 0.0 ? static_cast<float>(sum / weight) : 0.0f;
    }
    return out;
}
