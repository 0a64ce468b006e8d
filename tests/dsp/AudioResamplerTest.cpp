#include "dsp/AudioResampler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "aprs/APRSDecoder.h"
#include "sim/APRSEncoder.h"
#include "sim/SimRandom.h"

namespace {

std::unique_ptr<AudioResampler> make(double inputRateHz, double outputRateHz) {
    std::string error;
    auto resampler =
        AudioResampler::create({.inputRateHz = inputRateHz, .outputRateHz = outputRateHz}, error);
    EXPECT_NE(resampler, nullptr) << error;
    return resampler;
}

// Feeds `in` in pieces of inSizes[k % n] with room for outSizes[k % n] outputs per call,
// offering again what was not taken, then drains; returns everything produced.
std::vector<float> run(AudioResampler& resampler, const std::vector<float>& in,
                       const std::vector<std::size_t>& inSizes,
                       const std::vector<std::size_t>& outSizes) {
    std::vector<float> out;
    std::vector<float> room(*std::max_element(outSizes.begin(), outSizes.end()));
    std::size_t pos = 0, k = 0;
    for (; pos < in.size(); ++k) {
        const std::size_t n = std::min(inSizes[k % inSizes.size()], in.size() - pos);
        const std::span<const float> piece =
            n == 0 ? std::span<const float>() : std::span(in).subspan(pos, n);
        const auto p =
            resampler.process(piece, std::span(room).first(outSizes[k % outSizes.size()]));
        pos += p.consumed;
        out.insert(out.end(), room.begin(), room.begin() + static_cast<std::ptrdiff_t>(p.produced));
    }
    for (;; ++k) {
        const std::size_t n = resampler.drain(std::span(room).first(outSizes[k % outSizes.size()]));
        if (n == 0) break;
        out.insert(out.end(), room.begin(), room.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return out;
}

std::vector<float> tone(double toneHz, double rateHz, std::size_t count, double phaseRad) {
    std::vector<float> x(count);
    for (std::size_t n = 0; n < count; ++n)
        x[n] = static_cast<float>(
            0.5 *
            std::sin(2.0 * std::numbers::pi * toneHz * static_cast<double>(n) / rateHz + phaseRad));
    return x;
}

}  // namespace

TEST(AudioResamplerTest, ToneKeepsFrequencyAmplitudeAndTimingAndTheWholeLengthComesOut) {
    // Rates of recordings people decode APRS from, into the decoder's 51,200 samples/s; 2,200 Hz
    // is the AFSK space tone, inside 91.3 % of every narrower band edge here.
    const double inputRates[] = {8'000.0, 11'025.0, 22'050.0, 44'100.0, 48'000.0, 96'000.0};
    for (const double inputRateHz : inputRates) {
        SCOPED_TRACE(inputRateHz);
        auto resampler = make(inputRateHz, 51'200.0);
        ASSERT_NE(resampler, nullptr);
        const auto in = tone(2'200.0, inputRateHz, static_cast<std::size_t>(inputRateHz / 4), 0.3);
        const std::vector<float> out = run(*resampler, in, {4'096}, {8'192});
        // A quarter of a second in, a quarter of a second out: drain() gives back the tail.
        EXPECT_NEAR(static_cast<double>(out.size()), 51'200.0 / 4, 1.0);
        const std::vector<float> ideal = tone(2'200.0, 51'200.0, out.size(), 0.3);
        double worst = 0.0;
        // The first and last 10 % see the filter's edges.
        for (std::size_t n = out.size() / 10; n < out.size() * 9 / 10; ++n)
            worst = std::max(worst, static_cast<double>(std::abs(out[n] - ideal[n])));
        // soxr's passband ripple is under 0.01 dB, 5.8e-4 of a 0.5 tone; a one-sample slip
        // would cost at least 0.13.
        EXPECT_LT(worst, 5.8e-4);
    }
}

TEST(AudioResamplerTest, OutputDoesNotDependOnChunkingAndResetStartsAFreshStream) {
    SimRandom rng(7);
    std::vector<float> in(30'000);
    for (float& v : in) v = 0.2f * rng.gaussian();
    auto reference = make(22'050.0, 51'200.0);
    const std::vector<float> whole = run(*reference, in, {in.size()}, {3 * in.size()});
    struct Case {
        const char* name;
        std::vector<std::size_t> inSizes;
        std::vector<std::size_t> outSizes;
    };
    const Case cases[] = {
        {"one in, three out", {1}, {3}},
        {"uneven both", {1'000, 7, 4'093, 0, 333}, {5, 2'048, 1, 999}},
        {"output one at a time", {8'192}, {1}},
    };
    auto used = make(22'050.0, 51'200.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = make(22'050.0, 51'200.0);
        EXPECT_EQ(run(*r, in, c.inSizes, c.outSizes), whole);
        // The same object again after a reset, whatever it saw before.
        used->reset();
        EXPECT_EQ(run(*used, in, c.inSizes, c.outSizes), whole);
    }
}

TEST(AudioResamplerTest, APRSRecordedAt22050HzDecodesAtTheDecoderRate) {
    // A packet the project's encoder sends at 22,050 samples/s, with noise at -18 dB below
    // the tones, resampled and decoded at 51,200 as the CLI does with a recording.
    APRSFrameFields fields;
    fields.source = {.callsign = "9A1ZG", .ssid = 7};
    fields.information = "!4549.00N/01559.00E>Resampled";
    std::vector<float> audio(11'025, 0.0f);
    const std::vector<float> packet = APRSEncoder::encode(fields, {.sampleRateHz = 22'050.0});
    audio.insert(audio.end(), packet.begin(), packet.end());
    audio.insert(audio.end(), 11'025, 0.0f);
    SimRandom rng(11);
    for (float& v : audio) v += 0.06f * rng.gaussian();

    auto resampler = make(22'050.0, 51'200.0);
    const std::vector<float> resampled = run(*resampler, audio, {4'096}, {8'192});
    APRSDecoder decoder(51'200.0);
    std::vector<APRSPacket> packets;
    decoder.onPacket = [&](const APRSPacket& p) { packets.push_back(p); };
    decoder.process(resampled);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].sourceCallsign, "9A1ZG-7");
    EXPECT_EQ(packets[0].informationField, fields.information);
}

TEST(AudioResamplerTest, RefusesRatesItCannotUse) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const AudioResamplerConfig cases[] = {
        {.inputRateHz = 0.0}, {.inputRateHz = -22'050.0}, {.outputRateHz = 0.0},
        {.inputRateHz = nan}, {.outputRateHz = inf},
    };
    for (const AudioResamplerConfig& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputRateHz << " -> " << c.outputRateHz);
        std::string error;
        EXPECT_EQ(AudioResampler::create(c, error), nullptr);
        EXPECT_NE(error.find("cannot resample"), std::string::npos) << error;
    }
}
