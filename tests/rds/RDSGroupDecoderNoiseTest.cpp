#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <random>
#include <vector>

#include "RDSTestBlocks.h"
#include "rds/RDSBlockSync.h"
#include "rds/RDSGroupDecoder.h"

namespace {

using namespace rdstest;

// One hour of random bits: whatever the sync finds by chance, no group may come out.
TEST(RDSGroupDecoderNoiseTest, AnHourOfNoiseGivesNoGroups) {
    constexpr std::size_t kHourBits = 4'275'000;  // 1187.5 bit/s x 3600 s
    const std::vector<int> noise = randomBits(kHourBits, 2024);
    RDSGroupDecoder decoder;
    int reported = 0;
    decoder.onGroup = [&reported](const RDSGroupReport&, const RDSProgrammeInfo&) { ++reported; };
    RDSBlockSync sync;  // the same search on its own, to count false syncs and groups
    int rawGroups = 0, decodable = 0;
    for (const int bit : noise) {
        decoder.processBit(bit);
        if (const auto g = sync.processBit(bit)) {
            ++rawGroups;
            if (g->received[1] && (g->received[0] || (g->received[2] && g->thirdIsCPrime)))
                ++decodable;
        }
    }
    std::cout << "one hour of noise: " << sync.counters().acquisitions << " false syncs, "
              << rawGroups << " groups out of sync, " << decodable << " with PI and block B, "
              << reported << " reported\n";
    EXPECT_EQ(reported, 0);
    EXPECT_EQ(decoder.groupCount(), 0U);
    // Two error-free blocks in order by chance: ~5/1024 x 4/1024 per bit, about 80 an hour.
    EXPECT_LT(sync.counters().acquisitions, 200U);
}

// A station's groups sent differentially coded, as on air: a wrong channel bit spoils two
// adjacent data bits after differential decoding.
std::vector<int> channelBits(int groups, double channelErrorRate, std::uint32_t seed) {
    std::vector<int> data;
    for (int i = 0; i < groups; ++i) {
        const int segment = i / 2 % 16;
        const auto g = (i % 2 == 0) ? group(0xC201, blockB(0, false, 1, segment % 4), 0xE0CD,
                                            pair('A' + segment % 4, 'b'))
                                    : group(0xC201, blockB(2, false, 1, segment),
                                            pair('R', '0' + segment), pair('x', 'y'));
        data.insert(data.end(), g.begin(), g.end());
    }
    std::mt19937 rng(seed);
    std::bernoulli_distribution error(channelErrorRate);
    int sent = 0, receivedPrev = 0;
    for (int& bit : data) {
        sent ^= bit;  // differential encoding
        const int received = sent ^ (error(rng) ? 1 : 0);
        bit = received ^ receivedPrev;  // differential decoding
        receivedPrev = received;
    }
    return data;
}

struct Decoded {
    int groups = 0;
    int wrongBlocks = 0;  // B, C or D other than sent: a repair gone wrong
};

Decoded groupsDecoded(const std::vector<int>& bits, bool correction) {
    RDSGroupDecoder decoder({.errorCorrection = correction});
    Decoded d;
    decoder.onGroup = [&d](const RDSGroupReport& r, const RDSProgrammeInfo&) {
        ++d.groups;
        const int segment = r.blocks[1] & (r.groupType == 0 ? 3 : 15);
        const std::array<std::uint16_t, 3> sent =
            r.groupType == 0 ? std::array{blockB(0, false, 1, segment), std::uint16_t{0xE0CD},
                                          pair('A' + segment, 'b')}
                             : std::array{blockB(2, false, 1, segment), pair('R', '0' + segment),
                                          pair('x', 'y')};
        for (int k = 1; k < 4; ++k) {
            if (r.correctedBits[k] >= 0 && r.blocks[k] != sent[k - 1]) ++d.wrongBlocks;
        }
    };
    for (const int bit : bits) decoder.processBit(bit);
    return d;
}

TEST(RDSGroupDecoderNoiseTest, RepairKeepsAtLeastTwiceTheGroupsWhereTheRawDecoderLosesHalf) {
    constexpr int kGroups = 3000;
    for (const double rate : {0.005, 0.01, 0.02, 0.03}) {
        const std::vector<int> bits = channelBits(kGroups, rate, 11);
        const Decoded with = groupsDecoded(bits, true), without = groupsDecoded(bits, false);
        std::cout << "channel bit error rate " << rate << ": with repair " << with.groups
                  << " groups (" << with.wrongBlocks << " wrong blocks), without " << without.groups
                  << " (" << without.wrongBlocks << ") of " << kGroups << "\n";
    }
    // At 2 % channel errors (~4 % data bits) the raw decoder keeps under half.
    const std::vector<int> bits = channelBits(kGroups, 0.02, 11);
    const Decoded without = groupsDecoded(bits, false);
    const Decoded with = groupsDecoded(bits, true);
    EXPECT_LE(without.groups, kGroups / 2);
    EXPECT_GE(with.groups, 2 * without.groups);
    // Scattered errors sometimes look like a short burst and are "repaired" wrongly; large
    // repairs are refused on such a channel, which keeps this under 2 % of blocks (1.7 %).
    EXPECT_LE(with.wrongBlocks, with.groups * 3 * 20 / 1000);
}

}  // namespace
