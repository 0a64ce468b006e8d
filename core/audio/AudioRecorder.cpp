#include "audio/AudioRecorder.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace {

void putU16(std::uint8_t* out, std::uint16_t v) {
    out[0] = static_cast<std::uint8_t>(v & 0xFF);
    out[1] = static_cast<std::uint8_t>(v >> 8);
}

void putU32(std::uint8_t* out, std::uint32_t v) {
    for (int b = 0; b < 4; ++b) out[b] = static_cast<std::uint8_t>(v >> (8 * b));
}

void putTag(std::uint8_t* out, const char (&tag)[5]) {
    std::copy_n(tag, 4, out);
}

}  // namespace

std::int16_t pcm16FromFloat(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 1.0f) return 32767;
    return static_cast<std::int16_t>(std::max(v, -1.0f) * 32767.0f);
}

std::array<std::uint8_t, AudioRecorder::kHeaderBytes> makeWAVHeader(double sampleRateHz,
                                                                    int channels,
                                                                    std::uint32_t dataBytes) {
    const auto rate = static_cast<std::uint32_t>(sampleRateHz);
    const auto channelCount = static_cast<std::uint16_t>(channels);
    std::array<std::uint8_t, AudioRecorder::kHeaderBytes> h{};
    putTag(&h[0], "RIFF");
    putU32(&h[4], dataBytes + 36);
    putTag(&h[8], "WAVE");
    putTag(&h[12], "fmt ");
    putU32(&h[16], 16);
    putU16(&h[20], 1);  // PCM
    putU16(&h[22], channelCount);
    putU32(&h[24], rate);
    putU32(&h[28], rate * channelCount * 2);                       // byte rate
    putU16(&h[32], static_cast<std::uint16_t>(channelCount * 2));  // block align
    putU16(&h[34], 16);                                            // bits per sample
    putTag(&h[36], "data");
    putU32(&h[40], dataBytes);
    return h;
}

AudioRecorder::AudioRecorder(const std::filesystem::path& path, double sampleRate, int channels,
                             std::uint32_t maxDataBytes)
    : fileHandle(std::fopen(path.c_str(), "wb")),
      sampleRateHz(sampleRate),
      channelCount(channels),
      dataByteLimit(std::min(maxDataBytes, kMaxDataBytes) /
                    static_cast<std::uint32_t>(2 * channels) *
                    static_cast<std::uint32_t>(2 * channels)) {
    assert(channels == 1 || channels == 2);
    if (!fileHandle) {
        failed = true;
        return;
    }
    const std::array<std::uint8_t, kHeaderBytes> placeholder{};
    if (std::fwrite(placeholder.data(), 1, placeholder.size(), fileHandle.get()) !=
        placeholder.size()) {
        failed = true;
    }
}

AudioRecorder::~AudioRecorder() {
    close();
}

void AudioRecorder::write(std::span<const float> left,
                          std::optional<std::span<const float>> right) {
    std::lock_guard lock(mutex);
    if (!fileHandle || full || failed || left.empty()) return;
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(channelCount);
    std::size_t frames = left.size();
    const std::size_t room = (dataByteLimit - dataBytes) / frameBytes;
    if (frames > room) {
        frames = room;
        full = true;
    }
    scratch.resize(frames * frameBytes);
    std::uint8_t* out = scratch.data();
    const std::size_t rightCount = right ? right->size() : 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const bool hasRight = i < rightCount;
        if (channelCount == 1) {
            const float mono = hasRight ? 0.5f * (left[i] + (*right)[i]) : left[i];
            putU16(out, static_cast<std::uint16_t>(pcm16FromFloat(mono)));
            out += 2;
        } else {
            putU16(out, static_cast<std::uint16_t>(pcm16FromFloat(left[i])));
            putU16(out + 2,
                   static_cast<std::uint16_t>(pcm16FromFloat(hasRight ? (*right)[i] : left[i])));
            out += 4;
        }
    }
    if (scratch.empty()) return;
    const std::size_t written = std::fwrite(scratch.data(), 1, scratch.size(), fileHandle.get());
    if (written != scratch.size()) failed = true;
    // Count whole frames only, so the header describes what a player can read.
    dataBytes += static_cast<std::uint32_t>(written / frameBytes * frameBytes);
}

void AudioRecorder::close() {
    std::lock_guard lock(mutex);
    if (!fileHandle) return;
    writeFinalHeader();
    fileHandle.reset();  // a close error is ignored: there is no one left to tell
}

void AudioRecorder::writeFinalHeader() {
    const auto header = makeWAVHeader(sampleRateHz, channelCount, dataBytes);
    if (std::fseek(fileHandle.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), fileHandle.get()) != header.size()) {
        failed = true;
    }
}

bool AudioRecorder::isOpen() const {
    std::lock_guard lock(mutex);
    return fileHandle != nullptr;
}

bool AudioRecorder::hasFailed() const {
    std::lock_guard lock(mutex);
    return failed;
}

bool AudioRecorder::isFull() const {
    std::lock_guard lock(mutex);
    return full;
}

std::uint32_t AudioRecorder::dataByteCount() const {
    std::lock_guard lock(mutex);
    return dataBytes;
}
