#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "RecorderTestSupport.h"
#include "audio/AudioRecorder.h"

namespace {

std::int16_t sampleAt(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return static_cast<std::int16_t>(bytes[44 + 2 * index] | bytes[45 + 2 * index] << 8);
}

}  // namespace

using AudioRecorderTest = RecorderTestDir;

TEST_F(AudioRecorderTest, OneSecondMonoHasTheCanonicalHeader) {
    const auto path = dir / "mono.wav";
    {
        AudioRecorder recorder(path, 51'200.0, 1);
        const std::vector<float> block(512, 0.25f);
        for (int k = 0; k < 100; ++k) recorder.write(block);
        EXPECT_EQ(recorder.dataByteCount(), 102'400u);
        recorder.close();
    }
    const auto b = readBytes(path);
    ASSERT_EQ(b.size(), 44u + 102'400u);
    struct Field {
        std::size_t offset;
        int size;
        std::uint32_t value;
        const char* what;
    };
    const Field fields[] = {
        {4, 4, 102'436, "RIFF size = data + 36"},
        {16, 4, 16, "fmt chunk size"},
        {20, 2, 1, "PCM"},
        {22, 2, 1, "channels"},
        {24, 4, 51'200, "sample rate"},
        {28, 4, 102'400, "byte rate"},
        {32, 2, 2, "block align"},
        {34, 2, 16, "bits per sample"},
        {40, 4, 102'400, "data size"},
    };
    for (const Field& f : fields) {
        SCOPED_TRACE(f.what);
        EXPECT_EQ(f.size == 4 ? u32At(b, f.offset) : u16At(b, f.offset), f.value);
    }
    EXPECT_EQ(tagAt(b, 0), "RIFF");
    EXPECT_EQ(tagAt(b, 8), "WAVE");
    EXPECT_EQ(tagAt(b, 12), "fmt ");
    EXPECT_EQ(tagAt(b, 36), "data");
    EXPECT_EQ(sampleAt(b, 0), 8191);
    EXPECT_EQ(sampleAt(b, 51'199), 8191);
}

TEST(AudioRecorderConversionTest, ClipsAtFullScaleAndTruncates) {
    struct Case {
        float in;
        std::int16_t out;
    };
    const Case cases[] = {
        {1.0f, 32767},
        {1.5f, 32767},
        {-1.0f, -32767},
        {-7.0f, -32767},
        {0.5f, 16383},
        {-0.5f, -16383},
        {0.0f, 0},
        {1e-5f, 0},
        {0.99999f, 32766},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32767},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(pcm16FromFloat(c.in), c.out);
    }
}

TEST_F(AudioRecorderTest, FramesAlwaysHoldTheDeclaredChannels) {
    const std::vector<float> left = {0.5f, -0.5f, 1.0f, 0.25f};
    const std::vector<float> right = {0.1f, 0.5f};  // shorter than left
    struct Case {
        int channels;
        bool withRight;
        std::vector<std::int16_t> samples;
    };
    const Case cases[] = {
        // Stereo: right where present, left repeated beyond its end.
        {2, true, {16383, 3276, -16383, 16383, 32767, 32767, 8191, 8191}},
        {2, false, {16383, 16383, -16383, -16383, 32767, 32767, 8191, 8191}},
        // Mono: the down-mix where right is present, left alone beyond.
        {1, true, {9830, 0, 32767, 8191}},  // (0.5 + 0.1) / 2 = 0.3 -> 9830.1
        {1, false, {16383, -16383, 32767, 8191}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, right " << c.withRight);
        const auto path = dir / "frames.wav";
        AudioRecorder recorder(path, 48'000.0, c.channels);
        if (c.withRight) {
            recorder.write(left, std::span<const float>(right));
        } else {
            recorder.write(left);
        }
        recorder.close();
        const auto b = readBytes(path);
        ASSERT_EQ(b.size(), 44 + 2 * c.samples.size());
        EXPECT_EQ(u32At(b, 40), 2 * c.samples.size());
        EXPECT_EQ(u16At(b, 22), c.channels);
        EXPECT_EQ(u16At(b, 32), 2 * c.channels);
        EXPECT_EQ(u32At(b, 28), 48'000u * 2 * c.channels);
        for (std::size_t i = 0; i < c.samples.size(); ++i)
            EXPECT_EQ(sampleAt(b, i), c.samples[i]) << i;
    }
}

TEST_F(AudioRecorderTest, StopsAtTheSizeLimitOnAFrameBoundary) {
    const auto path = dir / "full.wav";
    AudioRecorder recorder(path, 32'000.0, 2, /*maxDataBytes=*/10);  // room for 2 frames
    recorder.write(std::vector<float>(3, 0.5f));
    EXPECT_TRUE(recorder.isFull());
    recorder.write(std::vector<float>(3, 0.5f));
    recorder.close();
    const auto b = readBytes(path);
    EXPECT_EQ(b.size(), 44u + 8u);
    EXPECT_EQ(u32At(b, 40), 8u);
    EXPECT_EQ(u32At(b, 4), 44u);
}

TEST_F(AudioRecorderTest, UnopenableFileGivesARecorderThatWritesNothing) {
    AudioRecorder recorder(dir / "missing" / "x.wav", 51'200.0, 1);
    EXPECT_FALSE(recorder.isOpen());
    EXPECT_TRUE(recorder.hasFailed());
    recorder.write(std::vector<float>(100, 0.5f));
    recorder.close();
    EXPECT_EQ(recorder.dataByteCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(AudioRecorderTest, CloseDuringWritesLeavesAConsistentFile) {
    const auto path = dir / "race.wav";
    AudioRecorder recorder(path, 51'200.0, 1);
    const std::vector<float> block(1'280, 0.1f);
    std::atomic<bool> started{false};
    std::thread writer([&] {
        for (int k = 0; k < 2'000; ++k) {
            recorder.write(block);
            started = true;
        }
    });
    while (!started) std::this_thread::yield();
    recorder.close();
    writer.join();
    const auto b = readBytes(path);
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(u32At(b, 40), b.size() - 44);
    EXPECT_EQ(u32At(b, 40) % 2'560, 0u);  // whole blocks only
}
