#include "device/FileRtlSdrApi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <complex>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <numbers>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestSignals.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

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

// Mean of x[n]·e^{-j2π f n / fs} over one buffer: the complex amplitude of a tone at f.
std::complex<double> toneAt(const Bytes& bytes, double hz, double rateHz = kRateHz) {
    std::complex<double> sum;
    const std::size_t n = bytes.size() / 2;
    for (std::size_t k = 0; k < n; ++k) {
        const std::complex<double> x((bytes[2 * k] - 127.5) / 127.5,
                                     (bytes[2 * k + 1] - 127.5) / 127.5);
        sum += x * std::polar(1.0, -2.0 * std::numbers::pi * hz * static_cast<double>(k) / rateHz);
    }
    return sum / static_cast<double>(n);
}

}  // namespace

TEST_F(FileRtlSdrApiTest, Cu8RecordingReplaysByteExactAndLoops) {
    // 100,001 bytes: an odd final byte (a truncated rtl_sdr capture) is skipped at the loop.
    for (const std::size_t size : {100'000u, 100'001u}) {
        SCOPED_TRACE(size);
        Bytes file(size);
        for (std::size_t k = 0; k < size; ++k) file[k] = static_cast<std::uint8_t>(k * 7 + k / 97);
        OpenApi dongle({.path = writeBytes("ramp.cu8", file), .speed = 0.0});
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

TEST_F(FileRtlSdrApiTest, SidecarSampleRateGovernsTheShift) {
    // At 1,024,000 samples/s a +100 kHz tone must still land on DC when tuned 100 kHz up.
    const fs::path path = writeCu8("slow.cu8", makeTone(100'000.0, 1'024'000.0, 65'536, 0.5f));
    writeText("slow.sigmf-meta", R"({"global": {"core:datatype": "cu8",
        "core:sample_rate": 1024000}, "captures": [{"core:frequency": 100000000}]})");
    OpenApi dongle({.path = path, .speed = 0.0});
    ASSERT_EQ(dongle.status, 0);
    dongle.api.setCenterFreq(dongle.handle, kCentreHz + 100'000);
    EXPECT_NEAR(std::abs(toneAt(dongle.replay(1).at(0), 0.0, 1'024'000.0)), 0.5, 0.01);
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
    writeText("ints.sigmf-meta", R"({"global": {"core:datatype": "ci16_le"}})");
    fs::create_directories(dir / "folder.cu8");
    struct Case { fs::path path; std::string reason; };
    const Case cases[] = {
        {missing, "cannot read recording " + missing.string() + ": No such file or directory"},
        {writeBytes("empty.cu8", {}), "is empty"},
        {writeBytes("short.cf32", Bytes(13, 1)),
         "is not a whole number of cf32 samples (13 bytes)"},
        {writeBytes("one.cu8", Bytes(1, 1)), "holds no complete IQ sample"},
        {writeBytes("audio.wav", Bytes(64, 1)), "has an unknown format"},
        {garbageMeta, "cannot parse SigMF metadata"},
        {wrongType, "unsupported SigMF datatype \"ci16_le\""},
        {dir / "folder.cu8", "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        FileRtlSdrApi api({.path = c.path});
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
