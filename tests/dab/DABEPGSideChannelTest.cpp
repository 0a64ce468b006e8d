#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>

#include "DABDataTestBuilders.h"
#include "DABMSCTestEncoder.h"
#include "dab/DABEPGSideChannel.h"

using namespace dabdatatest;

namespace {

struct TestSubchannel {
    DABSubchannel sub;
    dabtest::TestProfile profile;  // L1, L2, PI1, PI2 from the EEP tables
    std::size_t bytesPerCIF;       // 24 × bitrate / 8
};
const TestSubchannel k3A{
    {.id = 17, .startCU = 100, .sizeCU = 12, .protection = 2}, {9, 3, 8, 7}, 48};  // 16 kbit/s
const TestSubchannel k4B{
    {.id = 17, .startCU = 40, .sizeCU = 15, .protection = 7}, {21, 3, 2, 1}, 96};  // 32 kbit/s
const TestSubchannel k1A{
    {.id = 17, .startCU = 0, .sizeCU = 12, .protection = 0}, {3, 3, 24, 23}, 24};  // 8 kbit/s

// A logo's packets coded, punctured and time-interleaved as frames of four CIF slices, with
// 15 CIFs more so everything leaves the receiver's de-interleaver.
std::vector<std::array<std::vector<float>, 4>> transmit(const TestSubchannel& s, const Bytes& png) {
    Bytes stream(30, 0xFF);
    for (const Bytes& g :
         motObjectGroups(5, makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3), png))
        stream = cat(stream, packetize(g, 10));
    stream.resize(((stream.size() / s.bytesPerCIF + 16 + 3) / 4 * 4) * s.bytesPerCIF, 0);
    dabtest::TestTimeInterleaver interleaver(static_cast<std::size_t>(s.sub.sizeCU) * 64);
    std::vector<std::array<std::vector<float>, 4>> frames;
    for (std::size_t pos = 0; pos < stream.size(); pos += s.bytesPerCIF) {
        dabtest::Bits bits;
        for (std::size_t n = 0; n < s.bytesPerCIF * 8; ++n)
            bits.push_back((stream[pos + n / 8] >> (7 - n % 8)) & 1);
        if (pos / s.bytesPerCIF % 4 == 0) frames.emplace_back();
        frames.back()[pos / s.bytesPerCIF % 4] = interleaver.push(dabtest::toSoftValues(
            dabtest::encodeCIF(bits, s.profile), 0.3f, static_cast<std::uint32_t>(pos)));
    }
    return frames;
}

struct Logos {
    explicit Logos(DABEPGSideChannel& channel) {
        channel.onLogo = [this](std::uint32_t sid, const std::filesystem::path& path,
                                const std::vector<std::uint8_t>& png) {
            std::lock_guard lock(mutex);  // called on the queue
            seen.push_back({sid, path, png});
        };
    }
    std::mutex mutex;
    std::vector<std::tuple<std::uint32_t, std::filesystem::path, Bytes>> seen;
};

const std::filesystem::path kFolder =
    std::filesystem::temp_directory_path() / ("vantirel-epg-" + std::to_string(::getpid()));

}  // namespace

TEST(DABEPGSideChannelTest, DecodesALogoUnderEachProtectionProfile) {
    for (const TestSubchannel* s : {&k3A, &k4B, &k1A}) {
        SCOPED_TRACE(s->sub.protection);
        SerialQueue queue("test.epg", ThreadPriority::utility);
        DABEPGSideChannel channel(queue, 0xE3C79E2E, kFolder);
        Logos logos(channel);
        const Bytes png = makePNG(150, static_cast<std::uint8_t>(s->sub.protection));
        int sf = 0;
        for (auto& frame : transmit(*s, png)) channel.pushFrame(std::move(frame), s->sub, sf++);
        queue.drain();
        ASSERT_EQ(logos.seen.size(), 1u);
        EXPECT_EQ(logos.seen[0], std::tuple(0xE3C79E2Eu, kFolder / "E3C79E2E.png", png));
    }
    std::filesystem::remove_all(kFolder);
}

TEST(DABEPGSideChannelTest, AnotherSubchannelSizeGetsAFreshDeinterleaver) {
    SerialQueue queue("test.epg", ThreadPriority::utility);
    DABEPGSideChannel channel(queue, 0xABCD, kFolder);
    Logos logos(channel);
    int sf = 0;
    for (auto& frame : transmit(k3A, makePNG(120, 1)))
        channel.pushFrame(std::move(frame), k3A.sub, sf++);
    for (auto& frame : transmit(k4B, makePNG(120, 2)))
        channel.pushFrame(std::move(frame), k4B.sub, sf++);
    DABSubchannel uep = k3A.sub;
    uep.isShort = true;  // no EEP profile: nothing decoded, nothing breaks
    channel.pushFrame({std::vector<float>(768, 1.0f), {}, {}, {}}, uep, sf++);
    queue.drain();
    ASSERT_EQ(logos.seen.size(), 2u);
    EXPECT_EQ(std::get<2>(logos.seen[1]), makePNG(120, 2));
    std::filesystem::remove_all(kFolder);
}
