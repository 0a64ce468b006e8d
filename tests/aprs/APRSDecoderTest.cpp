#include "aprs/APRSDecoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "aprs/APRSFrameParser.h"
#include "sim/APRSEncoder.h"
#include "sim/APRSStationSchedule.h"
#include "sim/SimRandom.h"

namespace {

struct Collector {
    std::vector<APRSPacket> packets;
    explicit Collector(APRSDecoder& decoder) {
        decoder.onPacket = [this](const APRSPacket& p) { packets.push_back(p); };
    }
};

APRSFrameFields sampleFields(const std::string& info) {
    APRSFrameFields f;
    f.source = {.callsign = "9A3RBS", .ssid = 9};
    f.path = {{.callsign = "WIDE1", .ssid = 1}, {.callsign = "WIDE2", .ssid = 1}};
    f.information = info;
    return f;
}

// Silence, the packet, silence; white noise on top (sigma relative to amplitude 0.5).
std::vector<float> onAir(const std::vector<float>& packet, float noiseSigma, std::uint64_t seed) {
    std::vector<float> audio(4000, 0.0f);
    audio.insert(audio.end(), packet.begin(), packet.end());
    audio.insert(audio.end(), 4000, 0.0f);
    SimRandom rng(seed);
    for (float& s : audio) s += noiseSigma * rng.gaussian();
    return audio;
}

void feed(APRSDecoder& decoder, const std::vector<float>& audio, std::size_t block) {
    for (std::size_t pos = 0; pos < audio.size(); pos += block) {
        decoder.process(std::span(audio).subspan(pos, std::min(block, audio.size() - pos)));
    }
}

}  // namespace

TEST(APRSDecoderTest, RoundTripAtSeveralRatesWithNoise) {
    const std::string info = "!4903.50N/07201.75W-Test 73";
    for (double rate : {51'200.0, 48'000.0, 44'100.0, 22'050.0}) {
        for (float noise : {0.0f, 0.1f, 0.25f}) {
            SCOPED_TRACE(std::to_string(rate) + " noise " + std::to_string(noise));
            const auto audio = onAir(APRSEncoder::encode(sampleFields(info), {.sampleRateHz = rate}),
                                     noise, 3);
            APRSDecoder decoder(rate);
            Collector c(decoder);
            feed(decoder, audio, 4096);
            ASSERT_EQ(c.packets.size(), 1u);
            const APRSPacket& p = c.packets[0];
            EXPECT_EQ(p.sourceCallsign, "9A3RBS-9");
            EXPECT_EQ(p.destCallsign, "APRS");
            EXPECT_EQ(p.digipeaters, (std::vector<std::string>{"WIDE1-1", "WIDE2-1"}));
            EXPECT_EQ(p.informationField, info);
            EXPECT_NEAR(p.latitude.value_or(0), 49.058333, 1e-6);
            EXPECT_NEAR(p.longitude.value_or(0), -72.029166, 1e-6);
            EXPECT_EQ(p.comment, "Test 73");
            EXPECT_EQ(p.id.size(), 36u);
        }
    }
}

TEST(APRSDecoderTest, BitStuffingEdgeCases) {
    // Runs of five and more ones inside bytes, across byte boundaries and into the FCS; a flag
    // byte in the data.
    const std::string infos[] = {
        std::string(">\xFF\xFF\xFF", 4), std::string(">\x1F\xF8\x7E\x7E", 5),
        std::string(">\x3E\x7C\xF0\x0F", 5), std::string(">\xFE\x7F\xBF\xFD", 5),
    };
    for (const std::string& info : infos) {
        SCOPED_TRACE(info.size());
        const auto audio = onAir(APRSEncoder::encode(sampleFields(info), {}), 0.05f, 4);
        APRSDecoder decoder(51'200.0);
        Collector c(decoder);
        feed(decoder, audio, 1000);
        ASSERT_EQ(c.packets.size(), 1u);
        EXPECT_EQ(c.packets[0].informationField, latin1ToUTF8(info));
    }
}

TEST(APRSDecoderTest, BadFrameCheckIsCountedAndDropped) {
    std::vector<std::uint8_t> bytes = APRSEncoder::frameBytes(sampleFields("!4903.50N/07201.75W-x"));
    bytes[18] ^= 0x10;  // after the FCS was computed
    const auto audio = onAir(APRSEncoder::modulate(APRSEncoder::hdlcBits(bytes, 32, 3), {}), 0.0f, 5);
    APRSDecoder decoder(51'200.0);
    Collector c(decoder);
    feed(decoder, audio, 4096);
    EXPECT_TRUE(c.packets.empty());
    EXPECT_EQ(decoder.fcsFailureCount(), 1);
    EXPECT_EQ(decoder.packetCount(), 0);
}

TEST(APRSDecoderTest, TruncatedPacketDoesNotHideTheNextOne) {
    const auto packet = APRSEncoder::encode(sampleFields("!4903.50N/07201.75W-first"), {});
    const auto second = APRSEncoder::encode(sampleFields("!4903.50N/07201.75W-second"), {});
    std::vector<float> audio(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(packet.size() * 2 / 3));
    audio.insert(audio.end(), 3000, 0.0f);
    audio.insert(audio.end(), second.begin(), second.end());
    audio.insert(audio.end(), 3000, 0.0f);
    APRSDecoder decoder(51'200.0);
    Collector c(decoder);
    feed(decoder, audio, 512);
    ASSERT_EQ(c.packets.size(), 1u);
    EXPECT_EQ(c.packets[0].comment, "second");
}

TEST(APRSDecoderTest, OutputDoesNotDependOnBlockSizes) {
    std::vector<float> audio;
    for (const char* info : {"!4903.50N/07201.75W-one", "@092345z4903.50N/07201.75W-two", ">three"}) {
        const auto a = onAir(APRSEncoder::encode(sampleFields(info), {}), 0.15f, 6);
        audio.insert(audio.end(), a.begin(), a.end());
    }
    std::vector<APRSPacket> reference;
    for (std::size_t block : {std::size_t{4096}, std::size_t{1}, std::size_t{43}, std::size_t{997},
                              audio.size()}) {
        SCOPED_TRACE(block);
        APRSDecoder decoder(51'200.0);
        Collector c(decoder);
        feed(decoder, audio, block);
        ASSERT_EQ(c.packets.size(), 3u);
        for (APRSPacket& p : c.packets) {
            p.id.clear();
            p.timestamp = {};
        }
        if (reference.empty()) reference = c.packets;
        EXPECT_EQ(c.packets, reference);
    }
}

TEST(APRSDecoderTest, DecodesEveryPacketOfTheSimulatedChannel) {
    // 70 s of the demo stations with noise 20 dB below the tones.
    APRSStationSchedule schedule(APRSStationSchedule::demoStations(45.81, 15.98), {});
    std::vector<float> audio(70 * 51'200);
    schedule.render(audio);
    SimRandom rng(8);
    for (float& s : audio) s += 0.05f * rng.gaussian();
    APRSDecoder decoder(51'200.0);
    Collector c(decoder);
    feed(decoder, audio, 2048);
    const auto& sent = schedule.transmissions();
    ASSERT_GE(sent.size(), 10u);
    ASSERT_EQ(c.packets.size(), sent.size());
    for (std::size_t k = 0; k < sent.size(); ++k) {
        SCOPED_TRACE(sent[k].fields.information);
        const auto expected = parseAX25Frame(sent[k].frame);
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(c.packets[k].sourceCallsign, expected->sourceCallsign);
        EXPECT_EQ(c.packets[k].informationField, sent[k].fields.information);
        EXPECT_EQ(c.packets[k].latitude, expected->latitude);
        EXPECT_EQ(c.packets[k].comment, expected->comment);
        EXPECT_TRUE(c.packets[k].latitude.has_value());
    }
}

TEST(APRSDecoderTest, NoiseAloneGivesNoPackets) {
    SimRandom rng(9);
    std::vector<float> audio(20 * 51'200);
    for (float& s : audio) s = 0.3f * rng.gaussian();
    APRSDecoder decoder(51'200.0);
    Collector c(decoder);
    feed(decoder, audio, 4096);
    EXPECT_TRUE(c.packets.empty());
}

TEST(APRSDecoderTest, ResetWhileProcessingIsSafe) {
    // The APRS thread decodes while the main thread resets (run under TSan); afterwards a clean
    // packet still decodes.
    const auto packet = onAir(APRSEncoder::encode(sampleFields("!4903.50N/07201.75W-x"), {}), 0.05f, 10);
    APRSDecoder decoder(51'200.0);
    std::atomic<int> delivered{0};
    decoder.onPacket = [&delivered](const APRSPacket&) { delivered.fetch_add(1); };
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int round = 0; round < 20; ++round) feed(decoder, packet, 512);
        done = true;
    });
    int resets = 0;
    while (!done) {
        decoder.reset();
        ++resets;
    }
    worker.join();
    const int before = delivered.load();
    decoder.reset();
    feed(decoder, packet, 4096);
    EXPECT_EQ(delivered.load(), before + 1);
    EXPECT_GT(resets, 0);
}
