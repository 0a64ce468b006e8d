#include "sim/VirtualRtlSdr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "sim/CarrierEmitter.h"
#include "sim/DemoScene.h"

namespace {
using Handle = RtlSdrApi::Handle;

constexpr std::uint32_t kBufferBytes = 131'072;

// A dongle with no noise and no DC offset, so bytes are exact functions of the scene.
VirtualRtlSdrConfig cleanConfig() {
    return {.speed = 0.0, .receiverNoiseRms = 0.0, .dcOffset = {0.0f, 0.0f}};
}

std::shared_ptr<RFScene> carrierScene(double hz, double amplitude, double phaseRad = 0.0) {
    auto scene = std::make_shared<RFScene>();
    scene->addEmitter(std::make_shared<CarrierEmitter>(CarrierEmitterConfig{
        .frequencyHz = hz, .amplitude = amplitude, .initialPhaseRad = phaseRad}));
    return scene;
}

Handle openTuned(VirtualRtlSdr& dongle, std::uint32_t centerHz = 100'000'000) {
    Handle h = nullptr;
    EXPECT_EQ(dongle.open(&h, 0), 0);
    EXPECT_EQ(dongle.setCenterFreq(h, centerHz), 0);
    EXPECT_EQ(dongle.setTunerGainMode(h, 1), 0);
    EXPECT_EQ(dongle.setTunerGain(h, 229), 0);
    return h;
}

double sampleOf(unsigned char b) { return (b - 127.5) / 127.5; }

double peakDBFS(std::span<const unsigned char> bytes) {
    double peak = 0.0;
    for (unsigned char b : bytes) peak = std::max(peak, std::abs(sampleOf(b)));
    return 20.0 * std::log10(peak);
}

// Counts buffers and cancels after `stopAfter` from inside the callback.
struct Reader {
    Reader(VirtualRtlSdr& d, Handle h, int stop) : dongle(&d), handle(h), stopAfter(stop) {}
    VirtualRtlSdr* dongle;
    Handle handle;
    int stopAfter;  // 0: never
    int count = 0;
    std::uint32_t lastLength = 0;
    std::mutex mutex;
    std::condition_variable firstBuffer;

    static void callback(unsigned char*, std::uint32_t length, void* context) {
        auto* r = static_cast<Reader*>(context);
        {
            std::lock_guard lock(r->mutex);
            ++r->count;
            r->lastLength = length;
        }
        r->firstBuffer.notify_all();
        if (r->stopAfter > 0 && r->count == r->stopAfter) r->dongle->cancelAsync(r->handle);
    }
    void waitForFirstBuffer() {
        std::unique_lock lock(mutex);
        firstBuffer.wait(lock, [this] { return count > 0; });
    }
};
}  // namespace

// byte = clamp(round(v·127.5 + 127.5), 0, 255), the inverse of the receiver's conversion.
TEST(VirtualRtlSdrTest, QuantisesLikeTheDongleAndClipsWhenOverdriven) {
    struct Case {
        double amplitude;
        double phaseRad;
        int gainTenthsDB;
        unsigned char i, q;
    };
    const double pi = std::numbers::pi;
    const Case cases[] = {
        {0.5, 0.0, 229, 191, 128},       // 191.25 → 191; 0 → 127.5 → 128
        {0.5, pi, 229, 64, 128},         // 63.75 → 64
        {1.0, 0.0, 229, 255, 128},       // full scale
        {2.0, pi / 2, 229, 128, 255},    // clipped
        {2.0, -pi / 2, 229, 128, 0},     // clipped
        {0.5, 0.0, 0, 132, 128},         // 22.9 dB below the reference: 0.0358 → 132.07
        {0.01, 0.0, 496, 155, 128},      // 26.7 dB above: 0.2163 → 155.08
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.amplitude << " at " << c.phaseRad << " rad, gain "
                                        << c.gainTenthsDB);
        VirtualRtlSdr dongle(carrierScene(100e6, c.amplitude, c.phaseRad), cleanConfig());
        const Handle h = openTuned(dongle);
        dongle.setTunerGain(h, c.gainTenthsDB);
        std::vector<unsigned char> bytes(4'096);
        dongle.renderBuffer(bytes);
        for (std::size_t k = 0; k < bytes.size(); k += 2) {
            ASSERT_EQ(bytes[k], c.i) << k;
            ASSERT_EQ(bytes[k + 1], c.q) << k;
        }
    }
}

TEST(VirtualRtlSdrTest, AddsNoiseOfTheCombinedLevelAndTheDCOffset) {
    struct Case {
        double floorRms, receiverRms;
    };
    for (const Case c : {Case{0.0, 0.05}, Case{0.03, 0.04}, Case{0.05, 0.0}}) {
        SCOPED_TRACE(testing::Message() << c.floorRms << " + " << c.receiverRms);
        auto scene = std::make_shared<RFScene>(RFSceneConfig{.noiseFloorRms = c.floorRms});
        VirtualRtlSdr dongle(scene, {.speed = 0.0, .receiverNoiseRms = c.receiverRms,
                                     .dcOffset = {0.02f, -0.01f}});
        openTuned(dongle);
        std::vector<unsigned char> bytes(kBufferBytes);
        dongle.renderBuffer(bytes);
        double meanI = 0.0, meanQ = 0.0;
        const double n = bytes.size() / 2.0;
        for (std::size_t k = 0; k < bytes.size(); k += 2) {
            meanI += sampleOf(bytes[k]) / n;
            meanQ += sampleOf(bytes[k + 1]) / n;
        }
        double power = 0.0;
        for (std::size_t k = 0; k < bytes.size(); k += 2)
            power += (std::pow(sampleOf(bytes[k]) - meanI, 2) + std::pow(sampleOf(bytes[k + 1]) - meanQ, 2)) / n;
        EXPECT_NEAR(meanI, 0.02, 0.001);
        EXPECT_NEAR(meanQ, -0.01, 0.001);
        // Quantisation adds 2 × LSB²/12 of its own; 2 % covers the estimate's spread.
        const double lsb = 1.0 / 127.5;
        const double expected = std::sqrt(0.05 * 0.05 + 2 * lsb * lsb / 12);
        EXPECT_NEAR(std::sqrt(power), expected, 0.02 * expected);
    }
}

TEST(VirtualRtlSdrTest, GainSnapsToTheNearestTunerStep) {
    struct Case {
        int requested, expected;
    };
    const Case cases[] = {{-50, 0}, {0, 0}, {4, 0},     {5, 9},     {220, 229},
                          {32, 27} /* tie: lower */,    {442, 439} /* tie: lower */,
                          {440, 439}, {496, 496}, {1'000, 496}};
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), cleanConfig());
    const Handle h = openTuned(dongle);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        EXPECT_EQ(dongle.setTunerGain(h, c.requested), 0);
        EXPECT_EQ(dongle.tunerGainTenthsDB(), c.expected);
    }
}

TEST(VirtualRtlSdrTest, RejectsFrequenciesAndRatesTheHardwareCannotDo) {
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), cleanConfig());
    const Handle h = openTuned(dongle, 100'000'000);
    struct FrequencyCase {
        std::uint32_t hz;
        bool isAccepted;
    };
    // R828D tuning range 24..1766 MHz.
    const FrequencyCase frequencies[] = {{24'000'000, true},     {23'999'999, false},
                                         {1'766'000'000, true},  {1'766'000'001, false},
                                         {0, false},             {4'000'000'000u, false}};
    for (const FrequencyCase& c : frequencies) {
        SCOPED_TRACE(c.hz);
        dongle.setCenterFreq(h, 100'000'000);
        EXPECT_EQ(dongle.setCenterFreq(h, c.hz), c.isAccepted ? 0 : -1);
        EXPECT_EQ(dongle.centerFrequencyHz(), c.isAccepted ? c.hz : 100'000'000u);
    }
    struct RateCase {
        std::uint32_t rate;
        bool isAccepted;
    };
    // librtlsdr's ranges: 225,001..300,000 and 900,001..3,200,000.
    const RateCase rates[] = {{2'048'000, true}, {225'000, false}, {225'001, true}, {300'000, true},
                              {300'001, false},  {900'000, false}, {900'001, true}, {3'200'000, true},
                              {3'200'001, false}};
    for (const RateCase& c : rates) {
        SCOPED_TRACE(c.rate);
        dongle.setSampleRate(h, 2'048'000);
        EXPECT_EQ(dongle.setSampleRate(h, c.rate) == 0, c.isAccepted);
        EXPECT_EQ(dongle.sampleRateHz(), c.isAccepted ? c.rate : 2'048'000u);
    }
}

TEST(VirtualRtlSdrTest, RefusesCallsWithoutAnOpenHandle) {
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), cleanConfig());
    Handle h = nullptr;
    EXPECT_EQ(dongle.getDeviceCount(), 1u);
    EXPECT_EQ(dongle.setCenterFreq(&dongle, 100'000'000), -1);  // not open yet
    EXPECT_EQ(dongle.open(&h, 1), -1);                           // no second dongle
    EXPECT_EQ(dongle.open(nullptr, 0), -1);
    ASSERT_EQ(dongle.open(&h, 0), 0);
    EXPECT_EQ(h, &dongle);
    Handle again = nullptr;
    EXPECT_EQ(dongle.open(&again, 0), -6);  // busy, as libusb reports a claimed interface
    int other = 0;
    EXPECT_EQ(dongle.setTunerGain(&other, 100), -1);
    EXPECT_EQ(dongle.setFreqCorrection(h, -113), 0);
    EXPECT_EQ(dongle.setFreqCorrection(h, -113), -2);  // librtlsdr: correction already set
    EXPECT_EQ(dongle.frequencyCorrectionPPM(), -113);
    EXPECT_EQ(dongle.close(h), 0);
    EXPECT_EQ(dongle.resetBuffer(h), -1);
    EXPECT_EQ(dongle.readAsync(h, Reader::callback, nullptr, 0, kBufferBytes), -1);
}

TEST(VirtualRtlSdrTest, AutomaticGainSettlesThePeakBetweenMinusSixAndMinusTenDBFS) {
    for (const double amplitude : {0.03, 0.8, 3.0}) {
        SCOPED_TRACE(amplitude);
        VirtualRtlSdr dongle(carrierScene(100.01e6, amplitude), {.speed = 0.0});
        const Handle h = openTuned(dongle);
        dongle.setTunerGainMode(h, 0);
        std::vector<unsigned char> bytes(kBufferBytes);
        for (int k = 0; k < 80; ++k) dongle.renderBuffer(bytes);
        const double peak = peakDBFS(bytes);
        EXPECT_GE(peak, -10.5);
        EXPECT_LE(peak, -5.5);
        // The gain moved the right way from the 22.9 dB start.
        EXPECT_EQ(dongle.tunerGainTenthsDB() > 229, amplitude < 0.1);
    }
}

TEST(VirtualRtlSdrTest, FastReadDeliversBuffersUntilCancelled) {
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), {.speed = 0.0});
    const Handle h = openTuned(dongle);
    Reader reader(dongle, h, 5);
    EXPECT_EQ(dongle.readAsync(h, Reader::callback, &reader, 0, kBufferBytes), 0);
    EXPECT_EQ(reader.count, 5);
    EXPECT_EQ(reader.lastLength, kBufferBytes);
    EXPECT_EQ(dongle.deliveredBufferCount(), 5u);
    EXPECT_EQ(dongle.sampleIndex(), 5u * kBufferBytes / 2);

    Reader defaults(dongle, h, 1);
    EXPECT_EQ(dongle.readAsync(h, Reader::callback, &defaults, 0, 0), 0);
    EXPECT_EQ(defaults.lastLength, VirtualRtlSdr::kDefaultBufferBytes);
}

TEST(VirtualRtlSdrTest, CancelFromAnotherThreadEndsARealTimeRead) {
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), {.speed = 1.0});
    const Handle h = openTuned(dongle);
    Reader reader(dongle, h, 0);
    int result = -99;
    std::thread streaming([&] { result = dongle.readAsync(h, Reader::callback, &reader, 0, kBufferBytes); });
    reader.waitForFirstBuffer();
    EXPECT_EQ(dongle.cancelAsync(h), 0);
    streaming.join();
    EXPECT_EQ(result, 0);
}

// A cancel that arrives before the reader thread has entered readAsync must not be lost, or a
// stop that joins the reader before closing would wait forever.
TEST(VirtualRtlSdrTest, CancelBeforeReadMakesTheNextReadReturnAtOnce) {
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), {.speed = 1.0});
    const Handle h = openTuned(dongle);
    EXPECT_EQ(dongle.cancelAsync(h), 0);
    Reader reader(dongle, h, 1);
    EXPECT_EQ(dongle.readAsync(h, Reader::callback, &reader, 0, kBufferBytes), 0);
    EXPECT_EQ(reader.count, 0);
    // Consumed: the next read streams.
    dongle.setSpeed(0.0);
    EXPECT_EQ(dongle.readAsync(h, Reader::callback, &reader, 0, kBufferBytes), 0);
    EXPECT_EQ(reader.count, 1);
}

TEST(VirtualRtlSdrTest, CloseWhileStreamingEndsTheRead) {
    VirtualRtlSdr dongle(std::make_shared<RFScene>(), {.speed = 4.0});
    const Handle h = openTuned(dongle);
    Reader reader(dongle, h, 0);
    int result = -99;
    std::thread streaming([&] { result = dongle.readAsync(h, Reader::callback, &reader, 0, kBufferBytes); });
    reader.waitForFirstBuffer();
    EXPECT_EQ(dongle.close(h), 0);
    streaming.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(dongle.isOpen());
}

// Settings change from other threads while streaming (run under ThreadSanitizer); a retune from
// the callback takes effect with the next buffer.
TEST(VirtualRtlSdrTest, RetuningWhileStreamingAppliesAtTheNextBuffer) {
    struct Probe {
        VirtualRtlSdr* dongle;
        Handle handle;
        std::vector<double> peaks;
        static void callback(unsigned char* bytes, std::uint32_t length, void* context) {
            auto* p = static_cast<Probe*>(context);
            p->peaks.push_back(peakDBFS({bytes, length}));
            if (p->peaks.size() == 3) p->dongle->setCenterFreq(p->handle, 300'000'000);
            if (p->peaks.size() == 6) p->dongle->cancelAsync(p->handle);
        }
    };
    VirtualRtlSdr dongle(carrierScene(100.01e6, 0.5), {.speed = 0.0});
    const Handle h = openTuned(dongle);
    Probe probe{&dongle, h, {}};
    std::thread fiddler([&] {
        for (int k = 0; k < 200; ++k) {
            dongle.setTunerGain(h, 229 + (k % 2));
            dongle.setFreqCorrection(h, k % 3);
            dongle.setAgcMode(h, k % 2);
        }
    });
    EXPECT_EQ(dongle.readAsync(h, Probe::callback, &probe, 0, 16'384), 0);
    fiddler.join();
    ASSERT_EQ(probe.peaks.size(), 6u);
    for (std::size_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        // The carrier peaks at -6 dBFS; off it only noise and the DC offset remain.
        if (k < 3)
            EXPECT_GT(probe.peaks[k], -7.0);
        else
            EXPECT_LT(probe.peaks[k], -25.0);
    }
}

TEST(VirtualRtlSdrTest, SameSeedGivesTheSameStream) {
    auto firstBuffers = [](std::uint64_t seed) {
        VirtualRtlSdr dongle(makeDemoScene(), {.speed = 0.0, .noiseSeed = seed});
        openTuned(dongle, 92'140'000);
        std::vector<unsigned char> bytes(3 * 16'384), buffer(16'384);
        for (int k = 0; k < 3; ++k) {
            dongle.renderBuffer(buffer);
            std::copy(buffer.begin(), buffer.end(), bytes.begin() + k * 16'384);
        }
        return bytes;
    };
    EXPECT_EQ(firstBuffers(7), firstBuffers(7));
    EXPECT_NE(firstBuffers(7), firstBuffers(8));
}
