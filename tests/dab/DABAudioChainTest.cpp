// The receiver's audio objects in the order the streaming loop calls them, fed by a test
// transmitter: frame soft values → slice → de-interleave → depuncture → Viterbi → superframes
// → AAC.

#include <gtest/gtest.h>

#include "DABMSCTestEncoder.h"
#include "dab/DABDepuncture.h"
#include "dab/DABMSCExtractor.h"
#include "dab/DABSuperframeDecoder.h"
#include "dab/DABTimeDeinterleaver.h"
#include "dab/DABViterbiPack.h"

namespace {

constexpr std::size_t kCIFValues = 55'296;

struct ChainCase {
    const char* name;
    DABSubchannel subchannel;
    dabtest::TestProfile profile;
    int bitrateKbps;
    std::uint8_t flags;
};

// Superframe k carries marker k in its first AU.
std::vector<std::uint8_t> superframeBytes(std::size_t s, std::uint8_t flags, std::uint8_t marker) {
    const bool dac = flags & 0x40, sbr = flags & 0x20, stereo = flags & 0x10;
    const int count = dac ? (sbr ? 3 : 6) : (sbr ? 2 : 4);
    std::vector<std::vector<std::uint8_t>> aus;
    const std::vector<std::uint8_t> pad = {marker};
    for (int n = 0; n < count; ++n) {
        aus.push_back(dabtest::withCRC(n == 0 ? dabtest::silentAU(stereo, pad) : dabtest::silentAU(stereo)));
    }
    return dabtest::rsEncodeSuperframe(dabtest::buildSuperframe(s, flags, aus));
}

void runChain(const ChainCase& c, float noise) {
    const std::size_t s = static_cast<std::size_t>(c.bitrateKbps / 8);
    const std::size_t cifBytes = 3 * static_cast<std::size_t>(c.bitrateKbps);
    const std::size_t sliceBits = static_cast<std::size_t>(c.subchannel.sizeCU) * 64;

    // Transmitter: 12 superframes = 60 CIFs = 15 frames, the sub-channel at its start CU.
    std::vector<std::uint8_t> stream;
    for (std::uint8_t k = 0; k < 12; ++k) {
        const auto sf = superframeBytes(s, c.flags, k);
        stream.insert(stream.end(), sf.begin(), sf.end());
    }
    dabtest::TestTimeInterleaver interleaver(sliceBits);

    DABMSCExtractor extractor;
    DABTimeDeinterleaver deinterleaver(c.subchannel.sizeCU);
    DABViterbiPack packer;
    DABSuperframeDecoder decoder(c.bitrateKbps);
    std::vector<int> markers;
    int pcm = 0;
    decoder.onAccessUnit = [&](std::span<const std::uint8_t> au) {
        if ((au[0] >> 5) == 4) markers.push_back(au[2]);
    };
    decoder.onPCM = [&](auto, auto, double, int) { ++pcm; };

    std::int64_t cifIndex = 0;
    std::vector<float> cif(sliceBits);
    std::vector<std::uint8_t> bytes(cifBytes);
    for (std::size_t frame = 0; frame < 15; ++frame) {
        std::vector<float> frameBits(4 * kCIFValues, 0.0f);
        for (std::size_t i = 0; i < 4; ++i) {
            const std::size_t n = 4 * frame + i;
            const std::span<const std::uint8_t> data(stream.data() + n * cifBytes, cifBytes);
            const dabtest::Bits coded = dabtest::encodeCIF(dabtest::toBits(data), c.profile);
            const auto sent = interleaver.push(dabtest::toSoftValues(coded, noise, static_cast<std::uint32_t>(n)));
            std::copy(sent.begin(), sent.end(),
                      frameBits.begin() + static_cast<std::ptrdiff_t>(i * kCIFValues + c.subchannel.startCU * 64));
        }
        const auto slices = extractor.sliceSubchannel(frameBits, c.subchannel.startCU, c.subchannel.sizeCU);
        ASSERT_TRUE(slices);
        for (const auto& slice : *slices) {
            if (!deinterleaver.pushCIF(slice, cif)) continue;
            const auto mother = DABDepuncture::expandEEP(cif, c.subchannel);
            ASSERT_TRUE(mother);
            ASSERT_TRUE(packer.pack(*mother, DABViterbiPack::blockLengthFor(mother->size()), bytes));
            decoder.consumePackedCIF(bytes, cifIndex++, false);
        }
    }
    // 45 CIFs come out after the warm-up; the ring fills after 20 of them.
    ASSERT_FALSE(markers.empty());
    EXPECT_EQ(markers.back(), 7);
    for (std::size_t i = 1; i < markers.size(); ++i) EXPECT_EQ(markers[i], markers[i - 1] + 1);
    EXPECT_EQ(decoder.consecutiveRSMisses(), 0);
    EXPECT_GT(pcm, 0);
}

}  // namespace

TEST(DABAudioChainTest, SuperframesSurviveTheWholeReceiveChain) {
    const ChainCase cases[] = {
        {"96k 3-A HE-AAC", {.startCU = 100, .sizeCU = 72, .protection = 2}, {69, 3, 8, 7}, 96, 0x60},
        {"96k 3-A AAC stereo", {.startCU = 792, .sizeCU = 72, .protection = 2}, {69, 3, 8, 7}, 96, 0x50},
        {"48k 2-A", {.startCU = 0, .sizeCU = 48, .protection = 1}, {9, 27, 14, 13}, 48, 0x20},
        {"64k 1-B", {.startCU = 300, .sizeCU = 54, .protection = 4}, {45, 3, 10, 9}, 64, 0x20},
    };
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.name);
        runChain(c, 0.0f);
        runChain(c, 0.4f);
    }
}
