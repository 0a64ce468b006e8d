#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct sf_private_tag;  // libsndfile's SNDFILE; its header stays out of the users of this class

struct AudioFileInfo {
    double sampleRateHz = 0.0;
    int channels = 0;
    std::int64_t frames = 0;  // as the file declares it
    bool operator==(const AudioFileInfo&) const = default;
};

// An audio file read through libsndfile, block by block: WAV in every PCM and float flavour,
// FLAC, Ogg Vorbis, AIFF and the other formats libsndfile knows, at any rate. Yields the first
// channel as float at full scale ±1 (integer formats scaled by 2^(bits-1)); a non-finite
// float sample reads as 0. Nothing beyond one block is held in memory. One caller at a time.
class AudioFileReader {
public:
    // nullptr, with `error` set to a human text, when the file is missing, unreadable or not
    // audio that libsndfile understands.
    static std::unique_ptr<AudioFileReader> open(const std::filesystem::path& path,
                                                 std::string& error);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    const AudioFileInfo& info() const { return fileInfo; }
    // Fills the front of `out` with the next samples of the first channel; returns how many,
    // fewer than out.size() only at the end of the file (0 once it is reached).
    std::size_t readFirstChannel(std::span<float> out);

private:
    struct SndfileCloser {
        void operator()(sf_private_tag* file) const noexcept;
    };

    AudioFileReader(std::unique_ptr<sf_private_tag, SndfileCloser> file, AudioFileInfo info);

    std::unique_ptr<sf_private_tag, SndfileCloser> file;
    AudioFileInfo fileInfo;
    std::vector<float> frames;  // interleaved scratch for files of more than one channel
};
