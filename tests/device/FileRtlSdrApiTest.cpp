#include "device/FileRtlSdrApi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <complex>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <numbers>
#include <optional>
#include <span>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestSignals.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Complex = std::complex<double>;

constexpr double kRateHz = 2'048'000.0;
constexpr std::uint32_t kBufferBytes = 131'072;
constexpr std::uint32_t kCentreHz = 100'000'000;

// A scratch directory per test, removed afterwards.
class FileRtlSdrApiTest : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vantirel-filesdr-" + std::to_string(getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path writeBytes(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    fs::path writeText(const std::string& name, const std::string& text) {
        return writeBytes(name, Bytes(text.begin(), text.end()));
    }
    fs::path writeCu8(const std::string& name, const std::vector<IQSample>& samples) {
        Bytes bytes;
        for (const IQSample& s : samples) {
            bytes.push_back(toByte(s.i));
            bytes.push_back(toByte(s.q));
        }
        return writeBytes(name, bytes);
    }
    static std::uint8_t toByte(float v) {
        return static_cast<std::uint8_t>(std::clamp(std::round(v * 127.5 + 127.5), 0.0, 255.0));
    }

    fs::path dir;
};

// Collects `wanted` buffers, then cancels from inside the callback.
struct Collector {
    FileRtlSdrApi* api = nullptr;
    RtlSdrApi::Handle handle = nullptr;
    std::size_t wanted = 1;
    std::vector<Bytes> buffers{};

    static void callback(unsigned char* bytes, std::uint32_t length, void* context) {
        auto* self = static_cast<Collector*>(context);
        self->buffers.emplace_back(bytes, bytes + length);
        if (self->buffers.size() == self->wanted) self->api->cancelAsync(self->handle);
    }
};

struct OpenApi {
    explicit OpenApi(FileRtlSdrOptions options) : api(std::move(options)) {
        status = api.open(&handle, 0);
    }
    std::vector<Bytes> replay(std::size_t buffers, std::uint32_t length = kBufferBytes) {
        Collector c{.api = &api, .handle = handle, .wanted = buffers};
        EXPECT_EQ(api.readAsync(handle, &Collector::callback, &c, 0, length), 0);
        return c.buffers;
    }
    FileRtlSdrApi api;
    RtlSdrApi::Handle handle = nullptr;
    int status = 0;
};

// The replayed stream as the receiver scales it, buffers joined.
std::vector<Complex> toSamples(const std::vector<Bytes>& buffers) {
    std::vector<Complex> out;
    for (const Bytes& b : buffers)
        for (std::size_t k = 0; k + 1 < b.size(); k += 2)
            out.emplace_back((b[k] - 127.5) / 127.5, (b[k + 1] - 127.5) / 127.5);
    return out;
}

// Mean of x[n]·e^{-j2π f n / fs}: the complex amplitude of a tone at f, exact when the span
// holds a whole number of its cycles.
Complex toneAt(std::span<const Complex> x, double hz, double rateHz = kRateHz) {
    Complex sum;
    for (std::size_t k = 0; k < x.size(); ++k)
        sum +=
            x[k] * std::polar(1.0, -2.0 * std::numbers::pi * hz * static_cast<double>(k) / rateHz);
    return sum / static_cast<double>(x.size());
}

Complex toneAt(const Bytes& bytes, double hz, double rateHz = kRateHz) {
    return toneAt(toSamples({bytes}), hz, rateHz);
}

}  // namespace

TEST_F(FileRtlSdrApiTest, Cu8RecordingReplaysByteExactAndLoops) {
    // 100,001 bytes: an odd final byte (a truncated rtl_sdr capture) is skipped at the loop.
    // rtl_sdr writes the same bytes whatever the name; .bin is what its examples use.
    const std::pair<std::size_t, const char*> cases[] = {
        {100'000u, "a.cu8"}, {100'001u, "b.cu8"}, {100'000u, "c.bin"}, {100'000u, "d.RAW"}};
    for (const auto& [size, name] : cases) {
        SCOPED_TRACE(testing::Message() << size << " " << name);
        Bytes file(size);
        for (std::size_t k = 0; k < size; ++k) file[k] = static_cast<std::uint8_t>(k * 7 + k / 97);
        OpenApi dongle({.path = writeBytes(name, file), .speed = 0.0});
        ASSERT_EQ(dongle.status, 0);
        EXPECT_EQ(dongle.api.getDeviceCount(), 1u);
        dongle.api.setSampleRate(dongle.handle, 2'048'000);
        dongle.api.setCenterFreq(dongle.handle, kCentreHz);
        const auto buffers = dongle.replay(3);
        ASSERT_EQ(buffers.size(), 3u);
        const std::size_t usable = size & ~std::size_t{1};
        for (std::size_t b = 0; b < 3; ++b)
            for (std::size_t k = 0; k < kBufferBytes; ++k)
                ASSERT_EQ(buffers[b][k], file[(b * kBufferBytes + k) % usable]) << b << " " << k;
    }
}

TEST_F(FileRtlSdrApiTest, Cf32RecordingWithSidecarConvertsToDongleBytes) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<IQSample> samples = {
        {0.5f, -0.5f}, {1.5f, -2.0f}, {nan, 0.0f}, {1.0f, -1.0f}, {0.001f, -0.001f}};
    // round(v * 127.5 + 127.5), clamped; a NaN replays as 0.0.
    const Bytes expected = {191, 64, 255, 0, 128, 128, 255, 0, 128, 127};
    Bytes raw(samples.size() * sizeof(IQSample));
    std::memcpy(raw.data(), samples.data(), raw.size());
    const fs::path path = writeBytes("capture.cf32", raw);
    writeText("capture.sigmf-meta", R"({"global": {"core:datatype": "cf32_le",
        "core:sample_rate": 2048000}, "captures": [{"core:frequency": 100000000}]})");

    // The option says 90 MHz; the sidecar's 100 MHz wins, so tuning there replays unshifted.
    OpenApi dongle({.path = path, .centerFrequencyHz = 90e6, .speed = 0.0});
    ASSERT_EQ(dongle.status, 0);
    dongle.api.setCenterFreq(dongle.handle, kCentreHz);
    const auto buffers = dongle.replay(3, 16);
    ASSERT_EQ(buffers.size(), 3u);
    for (std::size_t b = 0; b < 3; ++b)
        for (std::size_t k = 0; k < 16; ++k)
            EXPECT_EQ(buffers[b][k], expected[(b * 16 + k) % expected.size()]) << b << " " << k;
}

TEST_F(FileRtlSdrApiTest, SixteenBitRecordingsScaleBy32768) {
    // Little-endian words: 0x4000 would read as 0x0040 (byte 128) if the bytes were swapped,
    // and -32768 as +32768 (byte 255) if the sign were lost. The two trailing bytes are half a
    // sample, left out of the loop.
    const std::vector<std::int16_t> words = {16'384, -16'384, 32'767, -32'768, 1, -1, 0, 258};
    // round(v / 32768 * 127.5 + 127.5)
    const Bytes expected = {191, 64, 255, 0, 128, 127, 128, 129};
    Bytes raw;
    for (const std::int16_t w : words) {
        raw.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(w) & 0xff));
        raw.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(w) >> 8));
    }
    raw.insert(raw.end(), {0x34, 0x12});
    // By extension, and by a sidecar beside a data file whose name says nothing.
    const fs::path byExtension = writeBytes("capture.cs16", raw);
    const fs::path bySidecar = writeBytes("capture.sigmf-data", raw);
    writeText("capture.sigmf-meta", R"({"global": {"core:datatype": "ci16_le"}})");
    for (const fs::path& path : {byExtension, bySidecar}) {
        SCOPED_TRACE(path.filename().string());
        OpenApi dongle({.path = path, .speed = 0.0});
        ASSERT_EQ(dongle.status, 0);
        dongle.api.setCenterFreq(dongle.handle, kCentreHz);
        const auto buffers = dongle.replay(3, 20);
        ASSERT_EQ(buffers.size(), 3u);
        for (std::size_t b = 0; b < 3; ++b)
            for (std::size_t k = 0; k < 20; ++k)
                EXPECT_EQ(buffers[b][k], expected[(b * 20 + k) % expected.size()]) << b << " " << k;
    }
}

TEST_F(FileRtlSdrApiTest, RetuningMovesTheRecordedStationLikeADongle) {
    // A +100 kHz tone recorded at 100 MHz; 65,536 samples hold a whole number of its periods.
    const fs::path path = writeCu8("tone.cu8", makeTone(100'000.0, kRateHz, 65'536, 0.5f));
    struct Case { std::uint32_t tunedHz; double toneHz; };
    const Case cases[] = {
        {kCentreHz, 100'000.0},
        {kCentreHz + 100'000, 0.0},
        {kCentreHz - 100'000, 200'000.0},
        {kCentreHz + 900'000, -800'000.0},
    };
    OpenApi dongle({.path = path, .centerFrequencyHz = kCentreHz, .speed = 0.0});
    ASSERT_EQ(dongle.status, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tunedHz);
        dongle.api.setCenterFreq(dongle.handle, c.tunedHz);
        const Bytes buffer = dongle.replay(1).at(0);
        EXPECT_NEAR(std::abs(toneAt(buffer, c.toneHz)), 0.5, 0.01);
        // Nothing is left where the tone used to be (unless it did not move).
        if (c.toneHz != 100'000.0) {
            EXPECT_LT(std::abs(toneAt(buffer, 100'000.0)), 0.01);
        }
    }
}

TEST_F(FileRtlSdrApiTest, ShiftIsPhaseContinuousAcrossBuffers) {
    // 100,010 Hz is not a whole number of cycles per buffer, so a rotator restarted at each
    // buffer would turn the shifted tone's phase by 0.32 cycles from one buffer to the next.
    const fs::path path = writeCu8("tone.cu8", makeTone(100'010.0, kRateHz, 4 * 65'536, 0.5f));
    OpenApi dongle({.path = path, .centerFrequencyHz = kCentreHz, .speed = 0.0});
    dongle.api.setCenterFreq(dongle.handle, kCentreHz + 100'010);
    for (const Bytes& buffer : dongle.replay(3)) {
        const std::complex<double> dc = toneAt(buffer, 0.0);
        EXPECT_NEAR(std::abs(dc), 0.5, 0.01);
        EXPECT_NEAR(std::arg(dc), 0.0, 0.02);
    }
}

// 2,000,000 samples/s, as modes1.bin and many other tools' captures are.
constexpr double kRecordedHz = 2'000'000.0;
// 20,000 recorded samples are 10 ms, which the replay must stretch to exactly 20,480 samples.
constexpr std::size_t kLoopRecorded = 20'000;
constexpr std::size_t kLoopReplayed = 20'480;

TEST_F(FileRtlSdrApiTest, ForeignRateRecordingArrivesAtTheProgrammedRateAcrossLoops) {
    // A +100 kHz tone, 0.5 in the first half of the file and 0.25 in the second: both halves
    // hold whole cycles (500 each), so the looped file is one continuous tone whose level
    // marks where each loop starts.
    std::vector<IQSample> file = makeTone(100'000.0, kRecordedHz, kLoopRecorded / 2, 0.5f);
    const std::vector<IQSample> quiet = makeTone(100'000.0, kRecordedHz, kLoopRecorded / 2, 0.25f);
    file.insert(file.end(), quiet.begin(), quiet.end());
    OpenApi dongle({.path = writeCu8("tone.cu8", file),
                    .centerFrequencyHz = kCentreHz,
                    .sampleRateHz = kRecordedHz,
                    .speed = 0.0});
    ASSERT_EQ(dongle.status, 0);
    ASSERT_EQ(dongle.api.setSampleRate(dongle.handle, 2'048'000), 0);
    dongle.api.setCenterFreq(dongle.handle, kCentreHz);
    const std::vector<Complex> x = toSamples(dongle.replay(4));  // 12.8 loops
    ASSERT_EQ(x.size(), 4 * kBufferBytes / 2);

    // Mid-half windows of 2,048 samples hold exactly 100 cycles at 2.048 MS/s; they start a
    // whole number of cycles after the stream does, so the tone's phase there is 0. A replay
    // that lost or repeated a span would move the level marks or turn the phase.
    for (std::size_t loop = 0; (loop + 1) * kLoopReplayed <= x.size(); ++loop) {
        SCOPED_TRACE(loop);
        for (const auto& [offset, level] : {std::pair{4'096u, 0.5}, std::pair{14'336u, 0.25}}) {
            const auto window = std::span(x).subspan(loop * kLoopReplayed + offset, 2'048);
            const Complex tone = toneAt(window, 100'000.0);
            EXPECT_NEAR(std::abs(tone), level, 0.01);  // 8-bit rounding on both sides
            EXPECT_NEAR(std::arg(tone), 0.0, 0.02);
        }
    }
    // Loop after loop the stream repeats itself sample for sample; the first loop is left out
    // because the resampler's filter sees silence before the file's start there.
    for (std::size_t n = kLoopReplayed; n + kLoopReplayed < x.size(); ++n)
        ASSERT_LT(std::abs(x[n + kLoopReplayed] - x[n]), 2.5 / 127.5) << n;
}

TEST_F(FileRtlSdrApiTest, ToneLandsOnItsFrequencyAtEveryProgrammedRateAndTuning) {
    // The shift is applied after resampling, with the programmed rate; done at the file's rate
    // with the programmed rate's step, the +100 kHz tone tuned to 0 would land at -2.4 kHz.
    const fs::path path =
        writeCu8("tone.cu8", makeTone(100'000.0, kRecordedHz, kLoopRecorded, 0.5f));
    struct Case {
        std::uint32_t rateHz;
        std::uint32_t tunedHz;
        double toneHz;
    };
    const Case cases[] = {
        {2'048'000, kCentreHz, 100'000.0},
        {2'048'000, kCentreHz + 100'000, 0.0},
        {2'048'000, kCentreHz - 300'000, 400'000.0},
        {2'048'000, kCentreHz + 900'000, -800'000.0},
        {1'024'000, kCentreHz, 100'000.0},
        {1'024'000, kCentreHz - 300'000, 400'000.0},
        {2'400'000, kCentreHz + 50'000, 50'000.0},
        {250'000, kCentreHz + 25'000, 75'000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rateHz << " " << c.tunedHz);
        OpenApi dongle({.path = path,
                        .centerFrequencyHz = kCentreHz,
                        .sampleRateHz = kRecordedHz,
                        .speed = 0.0});
        ASSERT_EQ(dongle.api.setSampleRate(dongle.handle, c.rateHz), 0);
        dongle.api.setCenterFreq(dongle.handle, c.tunedHz);
        const std::vector<Complex> x = toSamples(dongle.replay(1));
        // 4 ms past the start: whole cycles of every tone here, clear of the filter's start.
        const auto window = std::span(x).subspan(x.size() / 4, c.rateHz / 250);
        EXPECT_NEAR(std::abs(toneAt(window, c.toneHz, c.rateHz)), 0.5, 0.01);
        if (c.toneHz != 100'000.0) {
            EXPECT_LT(std::abs(toneAt(window, 100'000.0, c.rateHz)), 0.01);
        }
    }
}

TEST_F(FileRtlSdrApiTest, RealTwoMegasampleCaptureKeepsItsBurstsInPlace) {
    // modes1.bin: Mode S bursts recorded over the air at 2,000,000 samples/s, raw cu8 without
    // a header (origin in ../shared/data/captures/README.md).
    const fs::path capture = fs::path(VANTIREL_SHARED_DATA_DIR) / "captures" / "modes1.bin";
    if (!fs::exists(capture)) GTEST_SKIP() << capture << " is not here";
    std::ifstream in(capture, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    OpenApi dongle({.path = capture,
                    .centerFrequencyHz = 1'090'000'000,
                    .sampleRateHz = kRecordedHz,
                    .speed = 0.0});
    ASSERT_EQ(dongle.status, 0);
    dongle.api.setCenterFreq(dongle.handle, 1'090'000'000);
    const std::vector<Complex> replayed = toSamples(dongle.replay(5));  // 0.16 s, before the loop
    const std::vector<Complex> recorded = toSamples({file});

    // Power in 0.5 ms blocks (1,000 recorded, 1,024 replayed samples) follows the bursts; a
    // replay at the wrong rate slides them 24 samples further off with every block.
    const auto blockPower = [](const std::vector<Complex>& x, std::size_t block, std::size_t k) {
        double sum = 0.0;
        for (std::size_t n = k * block; n < (k + 1) * block; ++n) sum += std::norm(x[n]);
        return sum / static_cast<double>(block);
    };
    const std::size_t blocks = replayed.size() / 1'024;
    double sumIn = 0.0, sumOut = 0.0, sumInOut = 0.0, sumIn2 = 0.0, sumOut2 = 0.0, worst = 0.0;
    for (std::size_t k = 0; k < blocks; ++k) {
        const double a = blockPower(recorded, 1'000, k);
        const double b = blockPower(replayed, 1'024, k);
        sumIn += a;
        sumOut += b;
        sumInOut += a * b;
        sumIn2 += a * a;
        sumOut2 += b * b;
        worst = std::max(worst, std::abs(b - a) / a);
    }
    const double n = static_cast<double>(blocks);
    const double correlation =
        (sumInOut - sumIn * sumOut / n) /
        std::sqrt((sumIn2 - sumIn * sumIn / n) * (sumOut2 - sumOut * sumOut / n));
    // Measured: 0.99989, and 0.28 replayed unresampled.
    EXPECT_GT(correlation, 0.999);
    // The pulses' spectrum beyond ±913 kHz is filtered away: 1.4 % of all power, up to 5 % in
    // a block full of bursts. Unresampled, blocks miss by a factor of ten.
    EXPECT_NEAR(sumOut / sumIn, 0.986, 0.01);
    EXPECT_LT(worst, 0.1);
}

TEST_F(FileRtlSdrApiTest, RefusesRatesTheDongleRefuses) {
    OpenApi dongle({.path = writeBytes("a.cu8", Bytes(1000, 1)), .speed = 0.0});
    // librtlsdr's gaps: up to 225 kHz, 300–900 kHz, above 3.2 MHz.
    for (const std::uint32_t hz : {0u, 225'000u, 300'001u, 900'000u, 3'200'001u})
        EXPECT_EQ(dongle.api.setSampleRate(dongle.handle, hz), FileRtlSdrApi::kErrorBadSampleRate)
            << hz;
    for (const std::uint32_t hz : {225'001u, 300'000u, 900'001u, 3'200'000u})
        EXPECT_EQ(dongle.api.setSampleRate(dongle.handle, hz), 0) << hz;
}

TEST_F(FileRtlSdrApiTest, GivenRateOverridesTheSidecar) {
    // Recorded at 2.0 MS/s, but the sidecar claims 1,024,000: believed, the tone's 0.05 cycles
    // per sample would replay at 51.2 kHz.
    const fs::path path =
        writeCu8("tone.cu8", makeTone(100'000.0, kRecordedHz, kLoopRecorded, 0.5f));
    writeText("tone.sigmf-meta", R"({"global": {"core:datatype": "cu8",
        "core:sample_rate": 1024000}, "captures": [{"core:frequency": 100000000}]})");
    struct Case {
        std::optional<double> givenHz;
        double toneHz;
    };
    for (const Case& c : {Case{std::nullopt, 51'200.0}, Case{kRecordedHz, 100'000.0}}) {
        SCOPED_TRACE(c.toneHz);
        OpenApi dongle({.path = path, .sampleRateHz = c.givenHz, .speed = 0.0});
        ASSERT_EQ(dongle.status, 0);
        dongle.api.setCenterFreq(dongle.handle, kCentreHz);
        const std::vector<Complex> x = toSamples(dongle.replay(1));
        // 10,240 samples: 200 Hz resolution, whole cycles of both frequencies.
        const auto window = std::span(x).subspan(20'480, 10'240);
        EXPECT_NEAR(std::abs(toneAt(window, c.toneHz)), 0.5, 0.01);
    }
}

TEST_F(FileRtlSdrApiTest, ResampledStreamDoesNotDependOnBufferLength) {
    const fs::path path = writeCu8("noise.cu8", makeNoise(/*seed=*/7, 30'011, 0.2f));
    const auto replay = [&](std::uint32_t lengthBytes, std::size_t buffers) {
        OpenApi dongle({.path = path, .sampleRateHz = kRecordedHz, .speed = 0.0});
        dongle.api.setCenterFreq(dongle.handle, kCentreHz);
        Bytes joined;
        for (const Bytes& b : dongle.replay(buffers, lengthBytes))
            joined.insert(joined.end(), b.begin(), b.end());
        return joined;
    };
    // 3 × 131,072 bytes: several loops of the 30,011-sample file, cut three ways.
    const Bytes whole = replay(kBufferBytes, 3);
    EXPECT_EQ(replay(16'384, 24), whole);
    EXPECT_EQ(replay(2'048, 192), whole);
    // An odd length is cut to whole samples: 3 × 131,072 / 8,190 is not whole, so compare
    // what both have.
    const Bytes uneven = replay(8'191, 48);
    ASSERT_EQ(uneven.size(), 48u * 8'190u);
    EXPECT_TRUE(std::equal(uneven.begin(), uneven.end(), whole.begin()));
}

TEST_F(FileRtlSdrApiTest, WithoutAKnownCentreTheFirstTuningIsTheCentre) {
    OpenApi dongle({.path = writeCu8("tone.cu8", makeTone(100'000.0, kRateHz, 65'536, 0.5f)),
                    .speed = 0.0});
    dongle.api.setCenterFreq(dongle.handle, 95'000'000);
    EXPECT_NEAR(std::abs(toneAt(dongle.replay(1).at(0), 100'000.0)), 0.5, 0.01);
    dongle.api.setCenterFreq(dongle.handle, 95'100'000);
    EXPECT_NEAR(std::abs(toneAt(dongle.replay(1).at(0), 0.0)), 0.5, 0.01);
}

TEST_F(FileRtlSdrApiTest, TunedFarAwayOnlyLowNoiseArrives) {
    OpenApi dongle({.path = writeCu8("tone.cu8", makeTone(100'000.0, kRateHz, 65'536, 0.5f)),
                    .centerFrequencyHz = kCentreHz,
                    .speed = 0.0});
    dongle.api.setCenterFreq(dongle.handle, kCentreHz + 1'100'000);
    const Bytes buffer = dongle.replay(1).at(0);
    double sum = 0.0, squares = 0.0;
    for (const std::uint8_t b : buffer) {
        sum += b;
        squares += (b - 127.5) * (b - 127.5);
    }
    const double n = static_cast<double>(buffer.size());
    EXPECT_NEAR(sum / n, 127.5, 0.1);
    // Rounding to bytes adds 1/12 LSB² to the 2 LSB rms noise.
    EXPECT_NEAR(std::sqrt(squares / n), std::sqrt(4.0 + 1.0 / 12.0), 0.1);
    for (const double hz : {-1'000'000.0, 0.0, 100'000.0, 300'000.0})
        EXPECT_LT(std::abs(toneAt(buffer, hz)), 0.005) << hz;
}

TEST_F(FileRtlSdrApiTest, ManualGainScalesMildlyAndAutomaticGainNot) {
    struct Case { int manual; int tenthsDB; double amplitude; };
    const Case cases[] = {
        {0, 400, 0.3},                           // AGC: the set gain is ignored
        {1, 0, 0.3},                             // the 0 dB reference
        {1, 220, 0.3 * std::pow(10.0, 0.275)},   // a quarter of 22 dB
        {1, -100, 0.3 * std::pow(10.0, -0.125)},
    };
    OpenApi dongle({.path = writeCu8("tone.cu8", makeTone(100'000.0, kRateHz, 65'536, 0.3f)),
                    .centerFrequencyHz = kCentreHz,
                    .speed = 0.0});
    dongle.api.setCenterFreq(dongle.handle, kCentreHz);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.manual << " " << c.tenthsDB);
        dongle.api.setTunerGainMode(dongle.handle, c.manual);
        dongle.api.setTunerGain(dongle.handle, c.tenthsDB);
        EXPECT_NEAR(std::abs(toneAt(dongle.replay(1).at(0), 100'000.0)), c.amplitude, 0.01);
    }
}

TEST_F(FileRtlSdrApiTest, UnusableRecordingsFailAtOpenWithAReason) {
    const fs::path missing = dir / "missing.cu8";
    const fs::path garbageMeta = writeBytes("garbled.cu8", Bytes(64, 128));
    writeText("garbled.sigmf-meta", "{\"global\": {\"core:datatype\": ");
    const fs::path wrongType = writeBytes("ints.cf32", Bytes(64, 0));
    writeText("ints.sigmf-meta", R"({"global": {"core:datatype": "ci32_le"}})");
    const fs::path zeroRate = writeBytes("zero.cu8", Bytes(64, 0));
    writeText("zero.sigmf-meta", R"({"global": {"core:sample_rate": 0}})");
    const fs::path fine = writeBytes("fine.cu8", Bytes(64, 0));
    fs::create_directories(dir / "folder.cu8");
    const std::string rateRange = " is outside 8 kHz to 100 MHz";
    struct Case {
        fs::path path;
        std::string reason;
        std::optional<double> rateHz{};
    };
    const Case cases[] = {
        {missing, "cannot read recording " + missing.string() + ": No such file or directory"},
        {writeBytes("empty.cu8", {}), "is empty"},
        {writeBytes("short.cf32", Bytes(13, 1)),
         "is not a whole number of cf32 samples (13 bytes)"},
        {writeBytes("one.cu8", Bytes(1, 1)), "holds no complete IQ sample"},
        {writeBytes("audio.wav", Bytes(64, 1)), "has an unknown format"},
        {garbageMeta, "cannot parse SigMF metadata"},
        {wrongType,
         "unsupported SigMF datatype \"ci32_le\" in " + (dir / "ints.sigmf-meta").string() +
             " (expected cu8, ci16_le or cf32_le)"},
        {dir / "folder.cu8", "Is a directory"},
        {zeroRate, "sample rate 0 Hz (from zero.sigmf-meta)" + rateRange},
        // A rate typed in kHz or MHz, a negative one, one no recorder produces, none at all.
        {fine, "sample rate 2048 Hz (given)" + rateRange, 2048.0},
        {fine, "sample rate 2 Hz (given)" + rateRange, 2.0},
        {fine, "sample rate 0 Hz (given)" + rateRange, 0.0},
        {fine, "sample rate -2000000 Hz (given)" + rateRange, -2e6},
        {fine, "sample rate 20000000000 Hz (given)" + rateRange, 2e10},
        {fine, "sample rate nan Hz (given)" + rateRange, std::numeric_limits<double>::quiet_NaN()},
        {fine, "sample rate inf Hz (given)" + rateRange, std::numeric_limits<double>::infinity()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string() + " " + c.reason);
        FileRtlSdrApi api({.path = c.path, .sampleRateHz = c.rateHz});
        EXPECT_NE(api.lastError().find(c.reason), std::string::npos) << api.lastError();
        EXPECT_EQ(api.getDeviceCount(), 0u);
        RtlSdrApi::Handle handle = &api;
        EXPECT_LT(api.open(&handle, 0), 0);
        EXPECT_EQ(handle, nullptr);
        EXPECT_NE(api.lastError().find(c.reason), std::string::npos) << api.lastError();
        // Calls on the never-opened device fail quietly.
        EXPECT_LT(api.setCenterFreq(handle, kCentreHz), 0);
        EXPECT_LT(api.readAsync(handle, &Collector::callback, nullptr, 0, kBufferBytes), 0);
        EXPECT_LT(api.close(handle), 0);
    }
}

TEST_F(FileRtlSdrApiTest, CancelBeforeTheReadMakesItReturnAtOnce) {
    OpenApi dongle({.path = writeBytes("a.cu8", Bytes(1000, 1)), .speed = 1.0});
    ASSERT_EQ(dongle.api.cancelAsync(dongle.handle), 0);
    Collector c{.api = &dongle.api, .handle = dongle.handle, .wanted = 100};
    EXPECT_EQ(dongle.api.readAsync(dongle.handle, &Collector::callback, &c, 0, kBufferBytes), 0);
    EXPECT_TRUE(c.buffers.empty());
}

// A reader paced so slowly (32,000 s per buffer) that only a woken wait lets the test end.
class SlowReader {
public:
    explicit SlowReader(FileRtlSdrApi& api, RtlSdrApi::Handle handle) : api(api), handle(handle) {
        thread = std::jthread([this] {
            result = this->api.readAsync(this->handle, &callback, this, 0, kBufferBytes);
        });
        std::unique_lock guard(lock);
        arrived.wait(guard, [this] { return buffers > 0; });
    }
    int join() {
        thread.join();
        return result;
    }
    int buffers = 0;

private:
    static void callback(unsigned char*, std::uint32_t, void* context) {
        auto* self = static_cast<SlowReader*>(context);
        std::lock_guard guard(self->lock);
        ++self->buffers;
        self->arrived.notify_all();
    }
    FileRtlSdrApi& api;
    RtlSdrApi::Handle handle;
    std::mutex lock;
    std::condition_variable arrived;
    int result = -100;
    std::jthread thread;
};

TEST_F(FileRtlSdrApiTest, CancelAndCloseWakeAPacedRead) {
    const fs::path path = writeBytes("a.cu8", Bytes(1000, 1));
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "close" : "cancel");
        OpenApi dongle({.path = path, .speed = 1e-6});
        SlowReader reader(dongle.api, dongle.handle);
        if (byClose)
            EXPECT_EQ(dongle.api.close(dongle.handle), 0);
        else
            EXPECT_EQ(dongle.api.cancelAsync(dongle.handle), 0);
        EXPECT_EQ(reader.join(), 0);
        EXPECT_EQ(reader.buffers, 1);
    }
}

TEST_F(FileRtlSdrApiTest, AClosedRecordingCanBeOpenedAgain) {
    OpenApi dongle({.path = writeBytes("a.cu8", Bytes(1000, 1)), .speed = 0.0});
    RtlSdrApi::Handle second = nullptr;
    EXPECT_LT(dongle.api.open(&second, 0), 0);  // one dongle, already open
    EXPECT_EQ(dongle.api.close(dongle.handle), 0);
    ASSERT_EQ(dongle.api.open(&second, 0), 0);
    EXPECT_EQ(dongle.api.close(second), 0);
}

TEST_F(FileRtlSdrApiTest, ControlCallsFromAnotherThreadWhileReading) {
    // Races here are for the thread sanitizer to find; the stream only has to keep flowing.
    OpenApi dongle({.path = writeCu8("tone.cu8", makeTone(100'000.0, kRateHz, 65'536, 0.5f)),
                    .centerFrequencyHz = kCentreHz,
                    .speed = 0.0});
    std::mutex lock;
    std::condition_variable arrived;
    int buffers = 0;
    struct Context {
        std::mutex* lock;
        std::condition_variable* arrived;
        int* buffers;
    } ctx{&lock, &arrived, &buffers};
    const auto count = [](unsigned char*, std::uint32_t, void* c) {
        auto* x = static_cast<Context*>(c);
        std::lock_guard guard(*x->lock);
        ++*x->buffers;
        x->arrived->notify_all();
    };
    std::jthread reader([&] { dongle.api.readAsync(dongle.handle, count, &ctx, 0, 16'384); });
    {
        std::unique_lock guard(lock);
        arrived.wait(guard, [&] { return buffers > 0; });
    }
    for (int k = 0; k < 2000; ++k) {
        const auto stepHz = static_cast<std::uint32_t>(k % 3) * 600'000;  // in and out of range
        dongle.api.setCenterFreq(dongle.handle, kCentreHz + stepHz);
        dongle.api.setTunerGainMode(dongle.handle, k % 2);
        dongle.api.setTunerGain(dongle.handle, k % 500);
    }
    dongle.api.cancelAsync(dongle.handle);
    reader.join();
    EXPECT_GE(buffers, 1);
}
