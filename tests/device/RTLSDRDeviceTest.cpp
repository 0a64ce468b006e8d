#include "device/RTLSDRDevice.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "device/RTLSDRError.h"
#include "platform/DebugLog.h"
#include "support/FakeRtlSdrApi.h"

namespace {

using Calls = std::vector<std::string>;

// Captures composed diagnostic lines for the lifetime of the object.
class LogCapture {
public:
    LogCapture() { DebugLog::setHook(&LogCapture::hook, this); }
    ~LogCapture() { DebugLog::setHook(nullptr, nullptr); }
    std::vector<std::string> lines;

private:
    static void hook(std::string_view line, void* context) {
        static_cast<LogCapture*>(context)->lines.emplace_back(line);
    }
};

struct Rig {
    explicit Rig(RTLSDRDevice::SecondsClock clock = {})
        : api(std::make_shared<FakeRtlSdrApi>()),
          buffer(std::make_shared<IQBuffer>(1 << 20)),
          device(std::make_shared<RTLSDRDevice>(api, buffer, std::move(clock))) {}
    void openAndForget() {
        device->open(0);
        api->clearCalls();
    }
    std::shared_ptr<FakeRtlSdrApi> api;
    std::shared_ptr<IQBuffer> buffer;
    std::shared_ptr<RTLSDRDevice> device;
};

template <typename F>
RTLSDRError expectThrows(F&& f) {
    try {
        f();
    } catch (const RTLSDRError& e) {
        return e;
    }
    ADD_FAILURE() << "no RTLSDRError thrown";
    return RTLSDRError::deviceNotFound();
}

std::vector<std::uint8_t> bytePattern(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<std::uint8_t>(k * 37 + k / 256);
    return out;
}

}  // namespace

TEST(RTLSDRErrorTest, DescribesCaseNameAndPayload) {
    struct Case { RTLSDRError error; const char* text; };
    const Case cases[] = {
        {RTLSDRError::deviceNotFound(), "deviceNotFound"},
        {RTLSDRError::openFailed(-3), "openFailed(-3)"},
        {RTLSDRError::openFailed(0), "openFailed(0)"},
        {RTLSDRError::configFailed("set_sample_rate"), "configFailed(\"set_sample_rate\")"},
        {RTLSDRError::configFailed(RTLSDRDevice::kNotOpenText),
         "configFailed(\"Uređaj nije otvoren\")"},
        {RTLSDRError::streamStartFailed(-1), "streamStartFailed(-1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.error.describe(), c.text);
        EXPECT_STREQ(c.error.what(), c.text);
    }
}

TEST(RTLSDRDeviceTest, OpenFailuresAreTypedAndLeaveTheDeviceClosed) {
    struct Case {
        const char* name;
        std::uint32_t count;
        int openStatus;
        bool nullHandle;
        RTLSDRError::Kind kind;
        int status;
        Calls calls;
    };
    const Case cases[] = {
        {"no dongle", 0, 0, false, RTLSDRError::Kind::deviceNotFound, 0, {"get_device_count()"}},
        {"open fails", 1, -3, false, RTLSDRError::Kind::openFailed, -3,
         {"get_device_count()", "open(0)"}},
        // librtlsdr may report success without a handle.
        {"no handle", 1, 0, true, RTLSDRError::Kind::openFailed, 0,
         {"get_device_count()", "open(0)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.api->setDeviceCount(c.count);
        rig.api->setResult("open", c.openStatus);
        if (c.nullHandle) rig.api->setOpenHandle(nullptr);
        const RTLSDRError e = expectThrows([&] { rig.device->open(0); });
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_EQ(e.status, c.status);
        EXPECT_FALSE(rig.device->isOpen());
        EXPECT_EQ(rig.api->calls(), c.calls);
    }
}

TEST(RTLSDRDeviceTest, ConfigureProgramsTheDongleInOrderAndStopsAtAFailingStep) {
    const Calls all = {"set_sample_rate(2048000)", "set_center_freq(100040000)",
                       "set_tuner_gain_mode(1)", "set_agc_mode(0)", "reset_buffer()"};
    struct Case { const char* failing; const char* error; std::size_t callsMade; };
    const Case cases[] = {
        {nullptr, nullptr, 5},
        {"set_sample_rate", "set_sample_rate", 1},
        {"set_center_freq", "set_center_freq", 2},
        // Gain mode, AGC and buffer reset results are ignored.
        {"set_tuner_gain_mode", nullptr, 5},
        {"set_agc_mode", nullptr, 5},
        {"reset_buffer", nullptr, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing ? c.failing : "none");
        Rig rig;
        rig.openAndForget();
        if (c.failing) rig.api->setResult(c.failing, -1);
        const auto configure = [&] { rig.device->configure(100'040'000, 2'048'000, true); };
        if (c.error) {
            const RTLSDRError e = expectThrows(configure);
            EXPECT_EQ(e.kind, RTLSDRError::Kind::configFailed);
            EXPECT_EQ(e.text, c.error);
        } else {
            EXPECT_NO_THROW(configure());
        }
        EXPECT_EQ(rig.api->calls(), Calls(all.begin(), all.begin() + c.callsMade));
    }
}

TEST(RTLSDRDeviceTest, WithoutAnOpenDongleNothingReachesLibrtlsdr) {
    Rig rig;
    for (const auto& op : std::vector<std::function<void()>>{
             [&] { rig.device->configure(100'000'000, 2'048'000, false); },
             [&] { rig.device->startStreaming(); }}) {
        const RTLSDRError e = expectThrows(op);
        EXPECT_EQ(e.kind, RTLSDRError::Kind::configFailed);
        EXPECT_EQ(e.text, "Uređaj nije otvoren");
    }
    rig.device->setCenterFrequency(1);
    rig.device->setGainMode(true);
    rig.device->setManualGain(220);
    rig.device->setFrequencyCorrection(-113);
    rig.device->stopStreaming();
    rig.device->close();
    EXPECT_TRUE(rig.api->calls().empty());
}

TEST(RTLSDRDeviceTest, SettersForwardWhileOpenAndCloseHappensOnce) {
    Rig rig;
    rig.openAndForget();
    rig.device->setGainMode(true);
    rig.device->setManualGain(220);
    rig.device->setFrequencyCorrection(-113);
    rig.device->setCenterFrequency(94'540'000);
    rig.device->setGainMode(false);
    rig.device->stopStreaming();
    rig.device->close();
    rig.device->close();
    rig.device->setCenterFrequency(1);
    EXPECT_EQ(rig.api->calls(),
              (Calls{"set_tuner_gain_mode(1)", "set_tuner_gain(220)", "set_freq_correction(-113)",
                     "set_center_freq(94540000)", "set_tuner_gain_mode(0)", "cancel_async()",
                     "close()"}));
    EXPECT_FALSE(rig.device->isOpen());
}

TEST(RTLSDRDeviceTest, ReleasingAnOpenDeviceClosesTheDongle) {
    // After a failed configure the controller drops the device; the dongle must not stay busy.
    Rig rig;
    rig.openAndForget();
    rig.api->setResult("set_sample_rate", -1);
    EXPECT_THROW(rig.device->configure(1, 2'048'000, false), RTLSDRError);
    rig.api->clearCalls();
    rig.device.reset();
    EXPECT_EQ(rig.api->calls(), Calls{"close()"});
}

TEST(RTLSDRDeviceTest, StreamingWritesEveryTransferIntoTheRingUntilStopped) {
    Rig rig;
    rig.openAndForget();
    const auto first = bytePattern(131'072);
    rig.api->queueBuffer(first);
    rig.api->queueNullBuffer(131'072);  // ignored: no bytes
    rig.api->queueBuffer(bytePattern(131'072));

    std::jthread reader([&] { EXPECT_NO_THROW(rig.device->startStreaming()); });
    rig.api->waitUntilDrained();
    rig.device->stopStreaming();
    reader.join();

    EXPECT_EQ(rig.api->calls(), (Calls{"read_async(0,131072)", "cancel_async()"}));
    EXPECT_EQ(rig.buffer->available(), 2 * 65'536);
    EXPECT_EQ(rig.device->usbCallbackCount(), 2);
    std::vector<IQSample> expected(65'536);
    convertRTLBytes(first, expected);
    EXPECT_EQ(rig.buffer->read(65'536), expected);
}

TEST(RTLSDRDeviceTest, FailingReadAsyncThrowsStreamStartFailed) {
    Rig rig;
    rig.openAndForget();
    rig.api->setResult("read_async", -1);
    const RTLSDRError e = expectThrows([&] { rig.device->startStreaming(); });
    EXPECT_EQ(e.kind, RTLSDRError::Kind::streamStartFailed);
    EXPECT_EQ(e.status, -1);
}

TEST(RTLSDRDeviceTest, BytesConvertAboutTheMidpoint) {
    // (byte - 127.5) / 127.5: the dongle's zero lies between codes 127 and 128.
    struct Case { std::uint8_t byte; float value; };
    const Case cases[] = {{0, -1.0f}, {127, -0.00392157f}, {128, 0.00392157f}, {255, 1.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte));
        const std::uint8_t pair[2] = {c.byte, static_cast<std::uint8_t>(255 - c.byte)};
        IQSample out[1];
        convertRTLBytes(pair, out);
        EXPECT_NEAR(out[0].i, c.value, 1e-7f);
        EXPECT_NEAR(out[0].q, -c.value, 1e-7f);
    }
    std::vector<std::uint8_t> every(256);
    for (int b = 0; b < 256; ++b) every[b] = static_cast<std::uint8_t>(b);
    std::vector<IQSample> out(128);
    convertRTLBytes(every, out);
    for (const IQSample& s : out) {
        EXPECT_NE(s.i, 0.0f);
        EXPECT_NE(s.q, 0.0f);
    }
}

TEST(RTLSDRDeviceTest, TransferLengthDecidesTheSampleCount) {
    struct Case { std::uint32_t bytes; std::int64_t samples; std::int64_t callbacks; };
    const Case cases[] = {
        {131'072, 65'536, 1}, {3, 1, 1}, {1, 0, 0}, {0, 0, 0},
        {262'144, 131'072, 1},  // librtlsdr's default transfer, longer than the scratch
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Rig rig;
        const auto bytes = bytePattern(c.bytes);
        rig.device->handleRawBuffer(bytes.data(), c.bytes);
        EXPECT_EQ(rig.buffer->available(), c.samples);
        EXPECT_EQ(rig.device->usbCallbackCount(), c.callbacks);
        std::vector<IQSample> expected(static_cast<std::size_t>(c.samples));
        convertRTLBytes(bytes, expected);
        EXPECT_EQ(rig.buffer->read(c.samples), expected);
    }
}

TEST(RTLSDRDeviceTest, GapsAreMeasuredFromEveryArrivalAndLongOnesAreLogged) {
    double now = 100.0;
    Rig rig([&] { return now; });
    LogCapture log;
    const auto bytes = bytePattern(131'072);
    const auto arrive = [&](double at, std::uint32_t length) {
        now = at;
        rig.device->handleRawBuffer(bytes.data(), length);
    };
    arrive(100.000, 131'072);  // first: gap 0
    arrive(100.032, 131'072);
    arrive(100.082, 1);        // too short, but its arrival still counts
    arrive(100.132, 131'072);  // 50 ms after the short one: quiet
    arrive(100.212, 131'072);  // 80 ms: logged although processing took no time

    const std::vector<double> gaps = rig.device->usbGapHistory();
    ASSERT_EQ(gaps.size(), 4u);
    EXPECT_EQ(gaps[0], 0.0);
    EXPECT_NEAR(gaps[1], 32.0, 1e-6);
    EXPECT_NEAR(gaps[2], 50.0, 1e-6);
    EXPECT_NEAR(gaps[3], 80.0, 1e-6);
    EXPECT_EQ(rig.device->usbPairsHistory(), (std::vector<std::int64_t>(4, 65'536)));
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"🎧 USB callback gap=80.0ms process=0.0ms pairs=65536"});
}

TEST(RTLSDRDeviceTest, SlowProcessingIsLogged) {
    double now = 0.0;
    Rig rig([&] {
        const double t = now;
        now += 0.016;  // each reading of the clock is 16 ms after the previous
        return t;
    });
    LogCapture log;
    const auto bytes = bytePattern(4);
    rig.device->handleRawBuffer(bytes.data(), 4);
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"🎧 USB callback gap=0.0ms process=16.0ms pairs=2"});
}

TEST(RTLSDRDeviceTest, StatisticsWindowEveryTwentyCallbacksAndBoundedHistory) {
    double now = 0.0;
    Rig rig([&] { return now; });
    const auto bytes = bytePattern(200);
    for (int k = 1; k <= 150; ++k) {
        now += 0.001 * k;  // gap of callback k is k ms (k >= 2)
        rig.device->handleRawBuffer(bytes.data(), k % 2 == 0 ? 200 : 100);
        if (k == 19) {
            EXPECT_FALSE(rig.device->usbStatsWindow());
        }
        if (k == 40) {
            const auto stats = rig.device->usbStatsWindow();
            ASSERT_TRUE(stats);
            EXPECT_EQ(stats->atCallback, 40);
            EXPECT_NEAR(stats->meanGapMs, 30.5, 1e-6);  // gaps 21..40
            EXPECT_NEAR(stats->maxGapMs, 40.0, 1e-6);
            EXPECT_NEAR(stats->meanPairs, 75.0, 1e-9);  // alternating 50 and 100
        }
    }
    const auto gaps = rig.device->usbGapHistory();
    ASSERT_EQ(gaps.size(), RTLSDRDevice::kHistoryLength);
    EXPECT_NEAR(gaps.front(), 51.0, 1e-6);
    EXPECT_NEAR(gaps.back(), 150.0, 1e-6);
    EXPECT_EQ(rig.device->usbStatsWindow()->atCallback, 140);
}
