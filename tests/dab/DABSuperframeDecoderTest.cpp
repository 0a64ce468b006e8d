#include "dab/DABSuperframeDecoder.h"

#include <gtest/gtest.h>

#include <string>

#include "DABMSCTestEncoder.h"

namespace {

constexpr std::uint8_t k48kStereo = 0x50;   // DAC 48 kHz, channel mode stereo
constexpr std::uint8_t k32kMono = 0x00;
constexpr std::uint8_t k48kSBRMono = 0x60;

int auCount(std::uint8_t flags) {
    const bool dac = flags & 0x40, sbr = flags & 0x20;
    return dac ? (sbr ? 3 : 6) : (sbr ? 2 : 4);
}

// A superframe of silent AUs; the first carries `marker` in a data stream element so the
// test can tell superframes apart.
std::vector<std::uint8_t> superframe(std::size_t s, std::uint8_t flags, std::uint8_t marker) {
    std::vector<std::vector<std::uint8_t>> aus;
    const bool stereo = flags & 0x10;
    const std::vector<std::uint8_t> pad = {marker, 0xEE};
    for (int n = 0; n < auCount(flags); ++n) {
        aus.push_back(dabtest::withCRC(n == 0 ? dabtest::silentAU(stereo, pad) : dabtest::silentAU(stereo)));
    }
    return dabtest::buildSuperframe(s, flags, aus);
}

// The five CIF blocks that carry one superframe.
std::vector<std::vector<std::uint8_t>> cifsOf(const std::vector<std::uint8_t>& data) {
    const auto sent = dabtest::rsEncodeSuperframe(data);
    const std::size_t cif = sent.size() / 5;
    std::vector<std::vector<std::uint8_t>> out;
    for (std::size_t n = 0; n < 5; ++n) {
        out.emplace_back(sent.begin() + static_cast<std::ptrdiff_t>(n * cif),
                         sent.begin() + static_cast<std::ptrdiff_t>((n + 1) * cif));
    }
    return out;
}

// Everything the decoder reports, in order.
struct Recorder {
    std::vector<std::string> events;
    std::vector<int> markers;  // first-AU markers of the played superframes
    std::vector<int> missStreaks;
    int forced = 0;
    int pcmBlocks = 0;
    std::size_t lastPCMFrames = 0;
    int lastChannels = 0;
    double lastRate = 0.0;
    bool lastStereo = false;

    void attach(DABSuperframeDecoder& d) {
        d.onAccessUnit = [this](std::span<const std::uint8_t> au) {
            // DSE header is 16 bits: the marker is byte 2 of an AU that leads with one.
            if ((au[0] >> 5) == 4) {
                markers.push_back(au[2]);
                events.push_back("au" + std::to_string(au[2]));
            }
        };
        d.onPCM = [this](std::span<const float> l, std::span<const float> r, double rate, int ch) {
            ++pcmBlocks;
            EXPECT_EQ(l.size(), r.size());
            lastPCMFrames = l.size();
            lastChannels = ch;
            lastRate = rate;
        };
        d.onSuperframe = [this](int, DabAudioFormat, bool stereo) { lastStereo = stereo; };
        d.onMissStreak = [this](int n) { missStreaks.push_back(n); };
        d.onForceResubchannel = [this] { ++forced; };
        d.onFormat = [this](DabAudioFormat f, int ch, double rate) {
            events.push_back("format dac=" + std::to_string(f.dac) + " sbr=" + std::to_string(f.sbr) +
                             " ch=" + std::to_string(ch) + " rate=" + std::to_string(static_cast<int>(rate)));
        };
    }
};

// Feeds superframes as CIFs, the first CIF numbered firstIndex.
struct Feeder {
    DABSuperframeDecoder& decoder;
    std::int64_t cifIndex;
    bool skipAudio = false;
    void cif(const std::vector<std::uint8_t>& block) { decoder.consumePackedCIF(block, cifIndex++, skipAudio); }
    void superframe(const std::vector<std::uint8_t>& data) {
        for (const auto& block : cifsOf(data)) cif(block);
    }
};

}  // namespace

TEST(DABSuperframeDecoderTest, NoAttemptBeforeTwentyBlocksNorOffTheFiveCIFGrid) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    const std::vector<std::uint8_t> noise = dabtest::randomBytes(288, 1);
    for (int n = 0; n < 19; ++n) decoder.consumePackedCIF(noise, 5 * n, false);
    EXPECT_TRUE(rec.missStreaks.empty());
    decoder.consumePackedCIF(noise, 101, false);  // 20 held, off the grid
    EXPECT_TRUE(rec.missStreaks.empty());
    decoder.consumePackedCIF({}, 105, false);          // a failed CIF is not stored
    decoder.consumePackedCIF(std::vector<std::uint8_t>(287, 0), 105, false);  // nor a short one
    EXPECT_TRUE(rec.missStreaks.empty());
    decoder.consumePackedCIF(noise, 105, false);
    EXPECT_EQ(rec.missStreaks, std::vector<int>{1});
    EXPECT_EQ(decoder.consecutiveRSMisses(), 1);
}

TEST(DABSuperframeDecoderTest, PlaysEverySuperframeOnceNewestFirstAtAnyAlignment) {
    for (const std::int64_t first : {0, 1, 3, 4}) {
        SCOPED_TRACE(first);
        DABSuperframeDecoder decoder(96);
        Recorder rec;
        rec.attach(decoder);
        Feeder feed{decoder, first};
        for (std::uint8_t n = 0; n < 10; ++n) feed.superframe(superframe(12, k48kStereo, n));
        // Attempts come at CIF numbers divisible by 5 once 20 CIFs are held; each plays the
        // newest superframe complete by then, so older ones in the ring are never played.
        const auto newestAt = [&](std::int64_t attempt) { return (attempt - first - 4) / 5; };
        const std::int64_t firstAttempt = (first + 19 + 4) / 5 * 5;
        const std::int64_t lastAttempt = (first + 49) / 5 * 5;
        ASSERT_FALSE(rec.markers.empty());
        EXPECT_EQ(rec.markers.front(), newestAt(firstAttempt));
        EXPECT_EQ(rec.markers.back(), newestAt(lastAttempt));
        for (std::size_t i = 1; i < rec.markers.size(); ++i) EXPECT_EQ(rec.markers[i], rec.markers[i - 1] + 1);
        EXPECT_EQ(decoder.superframeCount(), static_cast<int>(rec.markers.size()));
        EXPECT_EQ(decoder.consecutiveRSMisses(), 0);
    }
}

TEST(DABSuperframeDecoderTest, ADamagedNewestSuperframeLetsTheOlderOneWinWithoutReplayingIt) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 1};  // superframes end on attempt CIFs
    for (std::uint8_t n = 0; n < 5; ++n) feed.superframe(superframe(12, k48kStereo, n));
    ASSERT_EQ(rec.markers.back(), 4);
    // Superframe 5 with codeword 7 beyond repair: 11 of 12 good is not enough.
    auto blocks = cifsOf(superframe(12, k48kStereo, 5));
    for (std::size_t e = 0; e < 6; ++e) {
        const std::size_t byte = (20 * e) * 12 + 7;
        blocks[byte / 288][byte % 288] ^= 0x5A;
    }
    for (const auto& b : blocks) feed.cif(b);
    EXPECT_EQ(rec.markers.back(), 4);
    EXPECT_EQ(decoder.repeatsDropped(), 1);  // superframe 4 won again and was dropped
    EXPECT_EQ(decoder.consecutiveRSMisses(), 0);
    feed.superframe(superframe(12, k48kStereo, 6));
    EXPECT_EQ(rec.markers, (std::vector<int>{3, 4, 6}));
    EXPECT_EQ(decoder.superframeCount(), 3);
}

TEST(DABSuperframeDecoderTest, RepeatsAreTheSameSuperframeNotTheSameBytes) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 1};
    // Same header and AU starts (the first 11 bytes), different content: both are played.
    for (std::uint8_t n = 0; n < 4; ++n) feed.superframe(superframe(12, k48kStereo, n));
    const auto a = superframe(12, k48kStereo, 100), b = superframe(12, k48kStereo, 101);
    ASSERT_TRUE(std::equal(a.begin(), a.begin() + 11, b.begin()));
    feed.superframe(a);
    feed.superframe(b);
    // Byte-identical superframes in a row (think digital silence) are new audio each time.
    feed.superframe(b);
    feed.superframe(b);
    EXPECT_EQ(std::vector<int>(rec.markers.end() - 5, rec.markers.end()),
              (std::vector<int>{3, 100, 101, 101, 101}));
    EXPECT_EQ(decoder.repeatsDropped(), 0);
    EXPECT_NE(DABSuperframeDecoder::fingerprint(a), DABSuperframeDecoder::fingerprint(b));
}

TEST(DABSuperframeDecoderTest, SkipAudioProvesSyncWithoutDecoding) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 1};
    for (int n = 0; n < 19; ++n) feed.cif(dabtest::randomBytes(288, static_cast<std::uint32_t>(n)));
    feed.cif(dabtest::randomBytes(288, 99));  // index 20: a miss
    ASSERT_EQ(decoder.consecutiveRSMisses(), 1);
    feed.skipAudio = true;
    feed.superframe(superframe(12, k48kStereo, 1));
    EXPECT_EQ(decoder.consecutiveRSMisses(), 0);
    EXPECT_TRUE(rec.markers.empty());
    EXPECT_EQ(decoder.superframeCount(), 0);
    EXPECT_FALSE(decoder.currentFormat());
    // Not fingerprinted either: once catching up ends, the same superframe is still new.
    feed.skipAudio = false;
    feed.superframe(superframe(12, k48kStereo, 1));
    EXPECT_EQ(rec.markers, std::vector<int>{1});
}

TEST(DABSuperframeDecoderTest, FortyPeriodsWithoutAReedSolomonWinAskForAnotherSubchannel) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 0};
    for (int n = 0; n < 20 + 5 * 39; ++n) feed.cif(dabtest::randomBytes(288, static_cast<std::uint32_t>(n)));
    EXPECT_EQ(decoder.consecutiveRSMisses(), 39);
    EXPECT_EQ(rec.forced, 0);
    for (int n = 0; n < 5; ++n) feed.cif(dabtest::randomBytes(288, static_cast<std::uint32_t>(1000 + n)));
    EXPECT_EQ(decoder.consecutiveRSMisses(), 40);
    EXPECT_EQ(rec.forced, 1);
    EXPECT_EQ(rec.missStreaks.back(), 40);
}

TEST(DABSuperframeDecoderTest, BadAUCRCsAreCountedAndFortySilentSuperframesGiveUp) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 1};
    // One AU with a broken CRC: the other five still play.
    auto data = superframe(12, k48kStereo, 7);
    data[12] ^= 0x01;  // inside AU 0, after its DSE marker
    for (int n = 0; n < 4; ++n) feed.superframe(superframe(12, k48kStereo, static_cast<std::uint8_t>(n)));
    const int pcmBefore = rec.pcmBlocks;
    feed.superframe(data);
    EXPECT_EQ(decoder.auCRCFailures(), 1);
    EXPECT_EQ(rec.pcmBlocks - pcmBefore, 5);
    EXPECT_EQ(decoder.consecutiveDecodeFails(), 0);

    // Superframes whose every AU fails its CRC yield no PCM; at forty the stage gives up.
    std::vector<std::uint8_t> dead = superframe(12, k48kStereo, 0);
    const auto units = DABSuperframeDecoder::auLayout(dead);
    ASSERT_TRUE(units);
    for (const DABAccessUnit& unit : *units) dead[unit.end - 1] ^= 0x80;
    for (int n = 0; n < 40; ++n) {
        dead[100] = static_cast<std::uint8_t>(n);  // keep them distinct
        feed.superframe(dead);
        EXPECT_EQ(rec.forced, n == 39 ? 1 : 0) << n;
    }
    EXPECT_EQ(decoder.consecutiveDecodeFails(), 40);
    EXPECT_EQ(decoder.consecutiveRSMisses(), 0);
}

TEST(DABSuperframeDecoderTest, AFormatChangeBuildsANewDecoderBeforeItsFirstAU) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 1};
    for (int n = 0; n < 5; ++n) feed.superframe(superframe(12, k32kMono, static_cast<std::uint8_t>(n)));
    feed.superframe(superframe(12, k48kSBRMono, 50));
    const auto it = std::find(rec.events.begin(), rec.events.end(), "au50");
    ASSERT_NE(it, rec.events.end());
    ASSERT_NE(it, rec.events.begin());
    EXPECT_EQ(it[-1].rfind("format dac=1 sbr=1", 0), 0u) << it[-1];
    EXPECT_EQ(rec.events.front().rfind("format dac=0 sbr=0", 0), 0u) << rec.events.front();
    ASSERT_TRUE(decoder.currentFormat());
    EXPECT_EQ(*decoder.currentFormat(), (DabAudioFormat{.dac = true, .sbr = true, .mono = true}));
}

TEST(DABSuperframeDecoderTest, DeliversPCMPerAUWithTheDecodersChannels) {
    for (const std::uint8_t flags : {k48kStereo, k32kMono}) {
        SCOPED_TRACE(int{flags});
        DABSuperframeDecoder decoder(96);
        Recorder rec;
        rec.attach(decoder);
        Feeder feed{decoder, 1};
        for (int n = 0; n < 6; ++n) feed.superframe(superframe(12, flags, static_cast<std::uint8_t>(n)));
        // The library holds back the first frame of a new decoder.
        EXPECT_EQ(rec.pcmBlocks, 3 * auCount(flags) - 1);
        EXPECT_EQ(rec.lastPCMFrames, 960u);
        EXPECT_EQ(rec.lastRate, flags & 0x40 ? 48'000.0 : 32'000.0);
        EXPECT_EQ(rec.lastChannels, decoder.decoder()->outputChannels());
        // Stereo is the stream's: the library also hands out mono as two equal channels.
        EXPECT_EQ(rec.lastStereo, flags == k48kStereo);
    }
}

TEST(DABSuperframeDecoderTest, ResetForgetsRingCountersAndFormat) {
    DABSuperframeDecoder decoder(96);
    Recorder rec;
    rec.attach(decoder);
    Feeder feed{decoder, 1};
    for (int n = 0; n < 5; ++n) feed.superframe(superframe(12, k48kStereo, static_cast<std::uint8_t>(n)));
    decoder.reset();
    EXPECT_EQ(decoder.superframeCount(), 0);
    EXPECT_FALSE(decoder.currentFormat());
    EXPECT_EQ(decoder.decoder(), nullptr);
    rec.markers.clear();
    // A fresh ring: 20 CIFs before the first attempt, and the same superframe plays again.
    for (int n = 0; n < 3; ++n) feed.superframe(superframe(12, k48kStereo, static_cast<std::uint8_t>(n)));
    EXPECT_TRUE(rec.markers.empty());
    feed.superframe(superframe(12, k48kStereo, 3));
    EXPECT_EQ(rec.markers, std::vector<int>{3});
}

TEST(DABSuperframeDecoderLayoutTest, HeaderFlagsSetTheAUCountAndFirstStart) {
    struct Case {
        std::uint8_t flags;
        std::size_t count, first;
    };
    for (const Case c : {Case{0x40, 6, 11}, Case{0x60, 3, 6}, Case{0x00, 4, 8}, Case{0x20, 2, 5}}) {
        SCOPED_TRACE(int{c.flags});
        std::vector<std::uint8_t> data(1320, 0);
        data[2] = c.flags;
        // Starts 100, 200, … packed as 12-bit fields from byte 3.
        dabtest::BitWriter w;
        for (std::size_t i = 1; i < c.count; ++i) w.put(static_cast<unsigned>(100 * i), 12);
        const auto packed = w.finish();
        std::copy(packed.begin(), packed.end(), data.begin() + 3);
        const auto units = DABSuperframeDecoder::auLayout(data);
        ASSERT_TRUE(units);
        ASSERT_EQ(units->size(), c.count);
        EXPECT_EQ(units->front(), (DABAccessUnit{.start = c.first, .end = 100}));
        for (std::size_t i = 1; i + 1 < c.count; ++i) {
            EXPECT_EQ((*units)[i], (DABAccessUnit{.start = 100 * i, .end = 100 * (i + 1)}));
        }
        EXPECT_EQ(units->back().end, 1320u);
    }
}

TEST(DABSuperframeDecoderLayoutTest, ImpossibleLayoutsAreRefused) {
    std::vector<std::uint8_t> data(1320, 0);
    data[2] = 0x20;  // 32 kHz SBR: two AUs, the second start in the first 12 bits of byte 3
    const auto setStart = [&](unsigned start) {
        data[3] = static_cast<std::uint8_t>(start >> 4);
        data[4] = static_cast<std::uint8_t>((start & 0x0F) << 4);
    };
    setStart(600);
    EXPECT_TRUE(DABSuperframeDecoder::auLayout(data));
    setStart(7);  // AU 0 would be 5 … 7: nothing but a CRC
    EXPECT_FALSE(DABSuperframeDecoder::auLayout(data));
    setStart(8);
    EXPECT_TRUE(DABSuperframeDecoder::auLayout(data));
    setStart(1318);  // the last AU must hold more than its CRC
    EXPECT_FALSE(DABSuperframeDecoder::auLayout(data));
    setStart(4000);  // past the end
    EXPECT_FALSE(DABSuperframeDecoder::auLayout(data));
    EXPECT_FALSE(DABSuperframeDecoder::auLayout(std::vector<std::uint8_t>(2, 0)));
    EXPECT_FALSE(DABSuperframeDecoder::auLayout(std::vector<std::uint8_t>(7, 0)));
}
