#include "dab/DABEPGSideChannel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>

#include "DABDataTestBuilders.h"
#include "DABMSCTestEncoder.h"

using namespace dabdatatest;

namespace {

struct TestSubchannel {
    DABSubchannel sub;
    dabtest::TestProfile profile;  // from the EEP tables, written out here
    std::size_t bytesPerCIF = 0;   // 24 × bitrate / 8
};

// 3-A at 16 kbit/s (6n CU, n = 2), 4-B at 32 kbit/s (15n CU, n = 1), 1-A at 8 kbit/s.
const TestSubchannel k3A{{.id = 17, .startCU = 100, .sizeCU = 12, .protection = 2}, {9, 3, 8, 7}, 48};
const TestSubchannel k4B{{.id = 17, .startCU = 40, .sizeCU = 15, .protection = 7}, {21, 3, 2, 1}, 96};
const TestSubchannel k1A{{.id = 17, .startCU = 0, .sizeCU = 12, .protection = 0}, {3, 3, 24, 23}, 24};

// The transmitter of one data sub-channel: bytes → CIFs of soft values, time-interleaved.
class TestDataTransmitter {
public:
    explicit TestDataTransmitter(const TestSubchannel& s)
        : spec(s), interleaver(static_cast<std::size_t>(s.sub.sizeCU) * 64) {}

    // The CIF slices that carry `stream`, followed by 15 CIFs of padding so all of it leaves the
    // receiver's de-interleaver; grouped in frames of four.
    std::vector<std::array<std::vector<float>, 4>> frames(const Bytes& stream) {
        std::vector<std::vector<float>> cifs;
        Bytes padded = stream;
        const std::size_t count = (stream.size() + spec.bytesPerCIF - 1) / spec.bytesPerCIF + 15;
        padded.resize(((count + 3) / 4 * 4) * spec.bytesPerCIF, 0);
        for (std::size_t pos = 0; pos < padded.size(); pos += spec.bytesPerCIF) {
            dabtest::Bits bits;
            for (std::size_t n = pos; n < pos + spec.bytesPerCIF; ++n) {
                for (int b = 7; b >= 0; --b) bits.push_back(static_cast<std::uint8_t>((padded[n] >> b) & 1));
            }
            const std::vector<float> soft = dabtest::toSoftValues(dabtest::encodeCIF(bits, spec.profile), 0.3f,
                                                                  static_cast<std::uint32_t>(pos + 1));
            EXPECT_EQ(soft.size(), static_cast<std::size_t>(spec.sub.sizeCU) * 64);
            cifs.push_back(interleaver.push(soft));
        }
        std::vector<std::array<std::vector<float>, 4>> out;
        for (std::size_t n = 0; n + 3 < cifs.size(); n += 4) out.push_back({cifs[n], cifs[n + 1], cifs[n + 2], cifs[n + 3]});
        return out;
    }

private:
    TestSubchannel spec;
    dabtest::TestTimeInterleaver interleaver;
};

Bytes logoStream(const Bytes& png, std::uint16_t tid) {
    Bytes stream(30, 0xFF);  // junk before the first packet
    const Bytes header = makeMOTHeader(static_cast<std::uint32_t>(png.size()), 2, 3, {{.id = 12, .data = contentName("logo.png")}});
    for (const Bytes& g : motObjectGroups(tid, header, png)) {
        const Bytes p = packetize(g, 0x0A, 96);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

class DABEPGSideChannelFixture : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("vantirel-epg-" + std::to_string(::getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void watch(DABEPGSideChannel& channel) {
        channel.onLogo = [this](std::uint32_t sid, const std::filesystem::path& path, const std::vector<std::uint8_t>& png) {
            std::lock_guard lock(mutex);
            logos.push_back({sid, path, png});
        };
    }

    struct Logo {
        std::uint32_t sid;
        std::filesystem::path path;
        Bytes png;
    };
    std::filesystem::path folder;
    std::mutex mutex;  // the callback runs on the queue
    std::vector<Logo> logos;
};

}  // namespace

TEST_F(DABEPGSideChannelFixture, DecodesALogoFromEachProtectionProfile) {
    for (const TestSubchannel* s : {&k3A, &k4B, &k1A}) {
        SCOPED_TRACE(s->sub.protection);
        logos.clear();
        SerialQueue queue("test.epg", ThreadPriority::utility);
        DABEPGSideChannel channel(queue, 0xE3C79E2E, folder);
        watch(channel);
        const Bytes png = makePNG(150, static_cast<std::uint8_t>(s->sub.protection));
        TestDataTransmitter tx(*s);
        int sf = 0;
        for (auto& frame : tx.frames(logoStream(png, 0x77))) channel.pushFrame(std::move(frame), s->sub, sf++);
        queue.drain();
        std::lock_guard lock(mutex);
        ASSERT_EQ(logos.size(), 1u);
        EXPECT_EQ(logos[0].sid, 0xE3C79E2Eu);
        EXPECT_EQ(logos[0].png, png);
        EXPECT_EQ(logos[0].path, folder / "E3C79E2E.png");
        std::ifstream in(logos[0].path, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), png);
    }
}

TEST_F(DABEPGSideChannelFixture, AnotherEnsemblesSubchannelGetsAFreshDeinterleaver) {
    SerialQueue queue("test.epg", ThreadPriority::utility);
    DABEPGSideChannel channel(queue, 0x0000ABCD, folder);
    watch(channel);
    const Bytes first = makePNG(120, 1), second = makePNG(120, 2);
    TestDataTransmitter a(k3A), b(k4B);
    int sf = 0;
    for (auto& frame : a.frames(logoStream(first, 1))) channel.pushFrame(std::move(frame), k3A.sub, sf++);
    for (auto& frame : b.frames(logoStream(second, 2))) channel.pushFrame(std::move(frame), k4B.sub, sf++);
    queue.drain();
    std::lock_guard lock(mutex);
    ASSERT_EQ(logos.size(), 2u);
    EXPECT_EQ(logos[0].png, first);
    EXPECT_EQ(logos[1].png, second);
}

TEST_F(DABEPGSideChannelFixture, SkipsWrongSlicesAndUnprotectedProfiles) {
    SerialQueue queue("test.epg", ThreadPriority::utility);
    DABEPGSideChannel channel(queue, 1, folder);
    watch(channel);
    TestDataTransmitter tx(k3A);
    int sf = 0;
    for (auto frame : tx.frames(logoStream(makePNG(100), 3))) {
        frame[1].pop_back();  // one slice per frame has the wrong length: that CIF is lost
        channel.pushFrame(std::move(frame), k3A.sub, sf++);
    }
    DABSubchannel uep = k3A.sub;
    uep.isShort = true;
    channel.pushFrame({std::vector<float>(768, 1.0f), {}, {}, {}}, uep, sf++);
    channel.pushFrame({}, DABSubchannel{}, sf++);  // no size: nothing to do
    queue.drain();
    std::lock_guard lock(mutex);
    EXPECT_TRUE(logos.empty());
}
