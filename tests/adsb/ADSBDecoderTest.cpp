#include "adsb/ADSBDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ADSBTestFrames.h"
#include "sim/ADSBAircraftEmitter.h"
#include "sim/ADSBEncoder.h"
#include "sim/SimRandom.h"
#include "support/TestSignals.h"

namespace {

struct Collector {
    std::vector<DecodedADSBMessage> messages;
    explicit Collector(ADSBDecoder& decoder) {
        decoder.onMessage = [this](const DecodedADSBMessage& m) { messages.push_back(m); };
    }
};

void feed(ADSBDecoder& decoder, const std::vector<IQSample>& in, std::size_t blockSize) {
    for (std::size_t pos = 0; pos < in.size(); pos += blockSize) {
        decoder.process(std::span(in).subspan(pos, std::min(blockSize, in.size() - pos)));
    }
}

// One frame in otherwise silent (or lightly noisy) IQ, long enough to be searched completely.
std::vector<IQSample> renderOne(const ADSBFrameBytes& frame, double startSample,
                                const ADSBPulseShaper& shaper, float noise = 0.0f,
                                std::size_t length = 1200) {
    std::vector<IQSample> iq = noise > 0.0f ? makeNoise(7, length, noise)
                                            : std::vector<IQSample>(length);
    ADSBEncoder::render(iq, startSample, frame,
                        {.amplitude = 0.3f, .carrierPhaseRad = 0.7, .carrierOffsetHz = 25'000.0},
                        shaper);
    return iq;
}

}  // namespace

TEST(ADSBDecoderTest, KnownFramesDecodeExactlyOnceAtEverySubSamplePhase) {
    // Sharp and soft pulse edges; start times swept through one sample.
    const ADSBPulseShaper shapers[] = {ADSBPulseShaper::gaussian(0.0),
                                       ADSBPulseShaper::gaussian(0.03)};
    for (const char* hex : {kIdentificationKLM1023, kPositionEven, kPositionOdd, kVelocity}) {
        const ADSBFrameBytes frame = frameFromHex(hex);
        for (const ADSBPulseShaper& shaper : shapers) {
            for (int p = 0; p < 25; ++p) {
                const double start = 200.0 + p * 0.04;
                SCOPED_TRACE(std::string(hex) + " at " + std::to_string(start));
                ADSBDecoder decoder;
                Collector c(decoder);
                decoder.process(renderOne(frame, start, shaper, 0.002f));
                ASSERT_EQ(c.messages.size(), 1u);
                EXPECT_EQ(c.messages[0], messageOf(frame));
                EXPECT_EQ(decoder.validCount(), 1);
                EXPECT_EQ(decoder.longFormatCount(), 1);
                EXPECT_EQ(decoder.candidateCount(), 1);
                EXPECT_EQ(decoder.lastDFsSeen(), std::vector<int>{17});
            }
        }
    }
}

TEST(ADSBDecoderTest, FlippedBitFailsParity) {
    // Address, ME and parity bits; the DF bits stay 17 so the candidate still counts as long.
    for (int bit : {8, 40, 87, 88, 111}) {
        SCOPED_TRACE(bit);
        ADSBFrameBytes frame = frameFromHex(kPositionEven);
        frame[static_cast<std::size_t>(bit / 8)] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        ADSBDecoder decoder;
        Collector c(decoder);
        decoder.process(renderOne(frame, 300.4, ADSBPulseShaper::gaussian(0.03)));
        EXPECT_TRUE(c.messages.empty());
        EXPECT_EQ(decoder.validCount(), 0);
        EXPECT_EQ(decoder.longFormatCount(), 1);
    }
}

TEST(ADSBDecoderTest, ShortAllCallReplyIsCountedButNotDelivered) {
    // DF11, 56 bits, followed by noise where the rest of a long frame would be.
    ADSBFrameBytes frame = frameFromHex("5D4840D6202CC30000000000000");
    std::vector<IQSample> iq = makeNoise(3, 1200, 0.01f);
    std::vector<IQSample> burst(1200);
    ADSBEncoder::render(burst, 150.3, frame, {.amplitude = 0.3f}, ADSBPulseShaper::gaussian(0.03));
    // Keep the preamble and the first 56 bits only (8 + 56 µs).
    for (std::size_t n = 0; n < 150 + static_cast<std::size_t>(64 * 2.048); ++n) {
        iq[n].i += burst[n].i;
        iq[n].q += burst[n].q;
    }
    ADSBDecoder decoder;
    Collector c(decoder);
    decoder.process(iq);
    EXPECT_TRUE(c.messages.empty());
    EXPECT_GE(decoder.candidateCount(), 1);
    ASSERT_FALSE(decoder.lastDFsSeen().empty());
    EXPECT_EQ(decoder.lastDFsSeen().front(), 11);
    EXPECT_EQ(decoder.longFormatCount(), 0);
}

TEST(ADSBDecoderTest, PreambleThresholdsAreStrict) {
    struct Case {
        const char* what;
        float pulse;
        float gap;
        bool accepted;
    };
    const Case cases[] = {
        {"weakest pulse exactly 1.5 x strongest gap", 0.3f, 0.2f, false},
        {"just above 1.5 x", 0.3f, 0.1999f, true},
        {"pulses at the 0.02 floor", 0.02f, 0.0f, false},
        {"pulses just above the floor", 0.0201f, 0.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::array<float, 16> s;
        s.fill(c.gap);
        s[0] = s[2] = s[7] = s[9] = c.pulse;
        EXPECT_EQ(ADSBDecoder::preambleAccepted(s), c.accepted);
        // The weakest pulse decides: one weak pulse rejects.
        s[7] = c.gap;
        EXPECT_FALSE(ADSBDecoder::preambleAccepted(s));
    }
}

TEST(ADSBDecoderTest, KeepsTheLastTwentyDownlinkFormats) {
    // A DF17 with bad parity, then twenty DF11 all-call replies: the first falls out.
    std::vector<IQSample> iq(21 * 400 + 400);
    for (int n = 0; n <= 20; ++n) {
        ADSBFrameBytes frame = frameFromHex(n == 0 ? "8D4840D6202CC371C32CE0576099"
                                                   : "5D4840D6202CC30000000000000");
        ADSBEncoder::render(iq, 100.0 + 400.0 * n + 0.1 * n, frame, {.amplitude = 0.3f},
                            ADSBPulseShaper::gaussian(0.03));
    }
    ADSBDecoder decoder;
    decoder.process(iq);
    EXPECT_EQ(decoder.candidateCount(), 21);
    EXPECT_EQ(decoder.longFormatCount(), 1);
    EXPECT_EQ(decoder.lastDFsSeen(), std::vector<int>(20, 11));
}

TEST(ADSBDecoderTest, OutputDoesNotDependOnBlockSizes) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(48.35, 11.78);
    config.noiseSigma = 0.004f;
    const ADSBAircraftEmitter emitter(config);
    std::vector<IQSample> iq(2 * 2'048'000);
    emitter.render(iq, 0);

    std::vector<DecodedADSBMessage> reference;
    int referenceCandidates = 0;
    for (std::size_t block : {std::size_t{4096}, std::size_t{1}, std::size_t{97},
                              std::size_t{65'536}, iq.size()}) {
        SCOPED_TRACE(block);
        ADSBDecoder decoder;
        Collector c(decoder);
        feed(decoder, iq, block);
        if (reference.empty()) {
            reference = c.messages;
            referenceCandidates = decoder.candidateCount();
            ASSERT_GT(reference.size(), 20u);
            continue;
        }
        EXPECT_EQ(c.messages, reference);
        EXPECT_EQ(decoder.candidateCount(), referenceCandidates);
    }
}

TEST(ADSBDecoderTest, MessageStraddlingABlockBoundaryArrivesOnceAtEveryOffset) {
    const ADSBFrameBytes frame = frameFromHex(kIdentificationKLM1023);
    const std::vector<IQSample> iq = renderOne(frame, 1000.37, ADSBPulseShaper::gaussian(0.03),
                                               0.002f, 2000);
    // Cut points from before the preamble to after the last bit (about 246 samples long).
    for (std::size_t cut = 990; cut <= 1260; ++cut) {
        SCOPED_TRACE(cut);
        ADSBDecoder decoder;
        Collector c(decoder);
        decoder.process(std::span(iq).first(cut));
        decoder.process(std::span(iq).subspan(cut));
        ASSERT_EQ(c.messages.size(), 1u);
        EXPECT_EQ(c.messages[0], messageOf(frame));
    }
}

TEST(ADSBDecoderTest, ResetDropsAHalfSeenFrame) {
    const ADSBFrameBytes frame = frameFromHex(kVelocity);
    const std::vector<IQSample> iq = renderOne(frame, 500.0, ADSBPulseShaper::gaussian(0.03));
    ADSBDecoder decoder;
    Collector c(decoder);
    decoder.process(std::span(iq).first(600));
    decoder.reset();
    decoder.process(std::span(iq).subspan(600));
    EXPECT_TRUE(c.messages.empty());
    // A whole frame afterwards is found: the decoder is usable after reset.
    decoder.process(iq);
    EXPECT_EQ(c.messages.size(), 1u);
}

TEST(ADSBDecoderTest, DeliversNearlyAllFramesOfACleanSimulatedSky) {
    // Three aircraft for 6 s, the weakest 30 dB above the noise. Delivered frames must match the
    // transmitted ones in order, each once.
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(48.35, 11.78);
    config.noiseSigma = 0.0011f;
    const ADSBAircraftEmitter emitter(config);
    const std::size_t total = 6 * 2'048'000;
    std::vector<IQSample> iq(total);
    emitter.render(iq, 0);
    ADSBDecoder decoder;
    Collector c(decoder);
    feed(decoder, iq, 4096);
    const auto frames = emitter.framesBetween(0.0, static_cast<double>(total) - 300.0);
    std::size_t matched = 0;
    std::size_t next = 0;
    for (const ADSBScheduledFrame& f : frames) {
        const DecodedADSBMessage expected = messageOf(f.bytes);
        if (next < c.messages.size() && c.messages[next] == expected) {
            ++matched;
            ++next;
        }
    }
    EXPECT_EQ(next, c.messages.size()) << "every delivery is a transmitted frame, in order";
    EXPECT_GE(static_cast<double>(matched), 0.95 * static_cast<double>(frames.size()))
        << matched << " of " << frames.size();
    RecordProperty("delivered", static_cast<int>(matched));
    RecordProperty("transmitted", static_cast<int>(frames.size()));
}

TEST(ADSBDecoderTest, ArbitraryInputNeverCrashes) {
    // Full-scale noise, impulses and silence in odd block sizes.
    SimRandom rng(99);
    ADSBDecoder decoder;
    std::vector<IQSample> block;
    for (int round = 0; round < 300; ++round) {
        block.resize(rng.nextU32() % 9000);
        const float scale = (round % 3 == 0) ? 1.0f : 0.05f;
        for (IQSample& s : block) {
            s = {scale * (2.0f * rng.uniform() - 1.0f), scale * (2.0f * rng.uniform() - 1.0f)};
            if (rng.uniform() < 0.01f) s = {1.0f, 1.0f};
        }
        decoder.process(block);
    }
    EXPECT_GE(decoder.maxObservedMagnitude(), 1.0f);
}
