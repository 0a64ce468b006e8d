#include "audio/AudioFileReader.h"

#include <algorithm>
#include <cmath>

#include <sndfile.h>

namespace {

constexpr std::size_t kScratchFrames = 4'096;

}  // namespace

void AudioFileReader::SndfileCloser::operator()(sf_private_tag* file) const noexcept {
    sf_close(file);
}

std::unique_ptr<AudioFileReader> AudioFileReader::open(const std::filesystem::path& path,
                                                       std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "cannot read " + path.string() + ": it is a folder";
        return nullptr;
    }
    SF_INFO info{};
    std::unique_ptr<sf_private_tag, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        // libsndfile names the cause: a missing file, an unknown format, a damaged header.
        error = "cannot read " + path.string() + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        error = path.string() + " holds no audio";
        return nullptr;
    }
    return std::unique_ptr<AudioFileReader>(
        new AudioFileReader(std::move(file), {.sampleRateHz = static_cast<double>(info.samplerate),
                                              .channels = info.channels,
                                              .frames = static_cast<std::int64_t>(info.frames)}));
}

AudioFileReader::AudioFileReader(std::unique_ptr<sf_private_tag, SndfileCloser> handle,
                                 AudioFileInfo info)
    : file(std::move(handle)), fileInfo(info) {
    if (fileInfo.channels > 1)
        frames.resize(kScratchFrames * static_cast<std::size_t>(fileInfo.channels));
}

AudioFileReader::~AudioFileReader() = default;

std::size_t AudioFileReader::readFirstChannel(std::span<float> out) {
    const auto channels = static_cast<std::size_t>(fileInfo.channels);
    std::size_t done = 0;
    while (done < out.size()) {
        std::size_t got = 0;
        if (channels == 1) {
            got = static_cast<std::size_t>(std::max<sf_count_t>(
                0, sf_readf_float(file.get(), out.data() + done,
                                  static_cast<sf_count_t>(out.size() - done))));
        } else {
            const std::size_t want = std::min(out.size() - done, kScratchFrames);
            got = static_cast<std::size_t>(std::max<sf_count_t>(
                0, sf_readf_float(file.get(), frames.data(), static_cast<sf_count_t>(want))));
            for (std::size_t k = 0; k < got; ++k) out[done + k] = frames[k * channels];
        }
        if (got == 0) break;
        for (std::size_t k = done; k < done + got; ++k)
            if (!std::isfinite(out[k])) out[k] = 0.0f;
        done += got;
    }
    return done;
}
