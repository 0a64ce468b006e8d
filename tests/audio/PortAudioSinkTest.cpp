#include <gtest/gtest.h>

#include "audio/AudioError.h"
#include "audio/PortAudioSink.h"

// Machines differ: with an output device the stream runs (rendering silence), without one
// start() must fail with a typed error rather than crash or print.
TEST(PortAudioSinkTest, StartsOrFailsWithATypedError) {
    try {
        PortAudioSink sink(51'200.0);
        sink.start([](std::span<float> left, std::span<float> right, double) {
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
        });
        EXPECT_GT(sink.deviceSampleRate(), 0.0);
        sink.stop();
        EXPECT_FALSE(sink.isRunning());
    } catch (const AudioError& error) {
        const std::string text = error.describe();
        EXPECT_NE(error.message, "") << text;
        EXPECT_EQ(text.rfind("PortAudio", 0), std::string::npos) << "case name first: " << text;
    }
}
