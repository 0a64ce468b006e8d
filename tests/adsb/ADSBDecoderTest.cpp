#include "adsb/ADSBDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sim/ADSBAircraftEmitter.h"
#include "sim/ADSBEncoder.h"
#include "platform/DebugLog.h"
#include "support/TestSignals.h"

namespace {

ADSBFrameBytes frameFromHex(const std::string& hex) {
    ADSBFrameBytes bytes{};
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        bytes[n] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * n, 2), nullptr, 16));
    }
    return bytes;
}

std::string hexOf(const std::array<std::uint8_t, 112>& bits) {
    std::string out;
    for (std::size_t n = 0; n < 14; ++n) {
        int v = 0;
        for (std::size_t b = 0; b < 8; ++b) v = (v << 1) | bits[8 * n + b];
        out += formatString("%02X", v);
    }
    return out;
}

struct Collected {
    std::vector<DecodedADSBMessage> messages;
    std::vector<std::string> hex;
};

void collectInto(ADSBDecoder& decoder, Collected& c) {
    decoder.onMessage = [&c](const DecodedADSBMessage& m) {
        c.messages.push_back(m);
        c.hex.push_back(hexOf(m.rawBits));
    };
}

void feed(ADSBDecoder& decoder, const std::vector<IQSample>& in, std::size_t blockSize) {
    for (std::size_t pos = 0; pos < in.size(); pos += blockSize) {
        decoder.process(std::span(in).subspan(pos, std::min(blockSize, in.size() - pos)));
    }
}

}  // namespace

TEST(ADSBDecoderTest, DeliveryRateOnCleanSimulatedSky) {
    for (double sigma : {0.0, 0.02, 0.03, 0.04}) {
    ADSBEmitterConfig config = ADSBAircraftEmitter::demoConfig(48.35, 11.78);
    config.noiseSigma = 0.0015f;
    config.edgeSigmaUs = sigma;
    const ADSBAircraftEmitter emitter(config);
    const std::size_t total = 6 * 2'048'000;
    std::vector<IQSample> iq(total);
    emitter.render(iq, 0);
    ADSBDecoder decoder;
    Collected c;
    collectInto(decoder, c);
    feed(decoder, iq, 4096);
    const auto frames = emitter.framesBetween(0, total - 300);
    int found = 0;
    std::size_t next = 0;
    for (const auto& f : frames) {
        std::string h;
        for (auto b : f.bytes) h += formatString("%02X", b);
        if (next < c.hex.size() && c.hex[next] == h) { ++found; ++next; } else printf("  missed flight %zu at %.3f\n", f.flight, f.startSample);
    }
    printf("sigma %.2f: %d of %zu delivered, %zu messages, %d candidates\n", sigma, found, frames.size(), c.messages.size(), decoder.candidateCount());
    }
}
TEST(ADSBDecoderTest, Debug) {
    const ADSBFrameBytes frame = frameFromHex("8D4840D6202CC371C32CE0576098");
    int ok = 0;
    for (int p = 0; p < 20; ++p) {
        std::vector<IQSample> iq(2000);
        ADSBEncoder::render(iq, 100.0 + p * 0.05, frame, {.amplitude = 0.3f}, ADSBPulseShaper(1e6, 4.0));
        ADSBDecoder decoder;
        Collected c;
        collectInto(decoder, c);
        decoder.process(iq);
        decoder.process(std::vector<IQSample>(2000));
        printf("phase %.2f: %zu msgs cand %d\n", p*0.05, c.messages.size(), decoder.candidateCount());
        ok += c.messages.size();
        if (p == 0) { for (int n = 95; n < 140; ++n) printf("%d %.3f\n", n, std::hypot(iq[n].i, iq[n].q)); }
    }
}
