#include "audio/AudioFileReader.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "RecorderTestSupport.h"

namespace {

// Channel c of frame n: a tone per channel, so a swapped or mixed channel cannot pass.
float sampleAt(std::size_t n, int channel) {
    const double hz = channel == 0 ? 0.011 : 0.037;  // cycles per sample
    return static_cast<float>((channel == 0 ? 0.5 : -0.7) *
                              std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n)));
}

// Writes `frames` frames with libsndfile in `format`, the fixture maker independent of the
// reader under test.
void writeFile(const std::filesystem::path& path, int format, int rateHz, int channels,
               std::size_t frames) {
    SF_INFO info{.frames = 0,
                 .samplerate = rateHz,
                 .channels = channels,
                 .format = format,
                 .sections = 0,
                 .seekable = 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> interleaved(frames * static_cast<std::size_t>(channels));
    for (std::size_t n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c) interleaved[n * channels + c] = sampleAt(n, c);
    EXPECT_EQ(sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames)),
              static_cast<sf_count_t>(frames));
    sf_close(file);
}

}  // namespace

using AudioFileReaderTest = RecorderTestDir;

TEST_F(AudioFileReaderTest, ReadsTheFirstChannelOfEveryFormatInAnyBlockSize) {
    struct Case {
        const char* name;
        int format;
        int rateHz;
        int channels;
        double tolerance;  // one step of the stored resolution, or rounding to it
    };
    const Case cases[] = {
        {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22'050, 2, 1.0 / 32'768},
        {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44'100, 1, 1.0 / 8'388'608},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48'000, 3, 1e-7},
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8'000, 1, 1.0 / 128},
        {"pcm16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22'050, 2, 1.0 / 32'768},
        {"pcm16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 11'025, 2, 1.0 / 32'768},
    };
    constexpr std::size_t kFrames = 10'000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        writeFile(path, c.format, c.rateHz, c.channels, kFrames);
        std::string error;
        const auto reader = AudioFileReader::open(path, error);
        ASSERT_NE(reader, nullptr) << error;
        EXPECT_EQ(reader->info(), (AudioFileInfo{.sampleRateHz = static_cast<double>(c.rateHz),
                                                 .channels = c.channels,
                                                 .frames = kFrames}));
        // Blocks larger and smaller than the reader's own scratch, and a short last one.
        std::vector<float> got;
        std::vector<float> block(5'000);
        for (const std::size_t size : {1u, 4'999u, 37u, 5'000u, 5'000u}) {
            const std::size_t n = reader->readFirstChannel(std::span(block).first(size));
            got.insert(got.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
        }
        ASSERT_EQ(got.size(), kFrames);
        EXPECT_EQ(reader->readFirstChannel(block), 0u) << "nothing after the end";
        for (std::size_t n = 0; n < kFrames; ++n)
            ASSERT_NEAR(got[n], sampleAt(n, 0), c.tolerance) << n;
    }
}

TEST_F(AudioFileReaderTest, NonFiniteFloatSamplesReadAsSilence) {
    const auto path = dir / "nan.wav";
    SF_INFO info{.frames = 0,
                 .samplerate = 8'000,
                 .channels = 1,
                 .format = SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                 .sections = 0,
                 .seekable = 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const float samples[] = {0.25f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), -0.5f};
    sf_write_float(file, samples, 4);
    sf_close(file);
    std::string error;
    const auto reader = AudioFileReader::open(path, error);
    ASSERT_NE(reader, nullptr) << error;
    std::vector<float> got(4);
    ASSERT_EQ(reader->readFirstChannel(got), 4u);
    EXPECT_EQ(got, (std::vector<float>{0.25f, 0.0f, 0.0f, -0.5f}));
}

TEST_F(AudioFileReaderTest, UnreadableFilesFailAtOpenWithAReasonNamingThem) {
    std::ofstream(dir / "notes.wav") << "not audio at all, just some text in a file";
    const std::filesystem::path cases[] = {dir / "missing.wav", dir / "notes.wav", dir};
    for (const std::filesystem::path& path : cases) {
        SCOPED_TRACE(path);
        std::string error;
        EXPECT_EQ(AudioFileReader::open(path, error), nullptr);
        EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    }
}
