#include "audio/AudioRecorder.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include <sndfile.h>

void AudioRecorder::SndfileCloser::operator()(sf_private_tag* file) const noexcept {
    sf_close(file);  // writes the final sizes; a close error is ignored: there is no one to tell
}

std::int16_t pcm16FromFloat(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 1.0f) return 32767;
    return static_cast<std::int16_t>(std::max(v, -1.0f) * 32767.0f);
}

AudioRecorder::AudioRecorder(const std::filesystem::path& path, double sampleRate, int channels,
                             std::uint32_t maxDataBytes)
    : sampleRateHz(sampleRate),
      channelCount(channels),
      dataByteLimit(std::min(maxDataBytes, kMaxDataBytes) /
                    static_cast<std::uint32_t>(2 * channels) *
                    static_cast<std::uint32_t>(2 * channels)) {
    assert(channels == 1 || channels == 2);
    // The header's rate is a whole number of hertz, the fraction dropped.
    SF_INFO info{.frames = 0,
                 .samplerate = static_cast<int>(sampleRate),
                 .channels = channels,
                 .format = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                 .sections = 0,
                 .seekable = 0};
    fileHandle.reset(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!fileHandle) failed = true;
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
    // Converted here rather than by libsndfile, which rounds: the recorder truncates.
    scratch.resize(frames * static_cast<std::size_t>(channelCount));
    std::int16_t* out = scratch.data();
    const std::size_t rightCount = right ? right->size() : 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const bool hasRight = i < rightCount;
        if (channelCount == 1) {
            *out++ = pcm16FromFloat(hasRight ? 0.5f * (left[i] + (*right)[i]) : left[i]);
        } else {
            *out++ = pcm16FromFloat(left[i]);
            *out++ = pcm16FromFloat(hasRight ? (*right)[i] : left[i]);
        }
    }
    if (scratch.empty()) return;
    const auto items = static_cast<sf_count_t>(scratch.size());
    const sf_count_t written = sf_write_short(fileHandle.get(), scratch.data(), items);
    if (written != items) failed = true;
    // Count whole frames only, so the header describes what a player can read.
    dataBytes += static_cast<std::uint32_t>(std::max<sf_count_t>(written, 0) / channelCount *
                                            static_cast<sf_count_t>(frameBytes));
}

void AudioRecorder::close() {
    std::lock_guard lock(mutex);
    fileHandle.reset();
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
