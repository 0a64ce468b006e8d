#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#include "RDSTestSignals.h"
#include "rds/RDSDemodulator.h"
#include "sim/SimRandom.h"

namespace {

// The symbol clock runs at the channel filter's rate, 256,000 / 8: 8 x ceil(2 x 32,000 /
// 1187.5). The first symbol after a reset only arms differential decoding.
constexpr std::size_t kFirstBitSample = 432;

std::vector<float> rdsSignal(double seconds, double bitOffset, float noiseRMS = 0.0f,
                             double rateHz = kRDSTestRateHz) {
    RDSTestMultiplex mpx({.pi = 0x00A1,
                          .pty = 4,
                          .ps = "SPORT 1",
                          .radioText = "Score 2:1",
                          .initialBitOffset = bitOffset},
                         {.noiseRMS = noiseRMS, .seed = 9}, rateHz);
    std::vector<float> out(static_cast<std::size_t>(seconds * rateHz));
    mpx.fill(out);
    return out;
}

// Sample count, from the start of `input`, at which each bit was delivered.
std::vector<std::size_t> bitTimes(RDSDemodulator& demod, const std::vector<float>& input) {
    std::vector<std::size_t> times;
    std::size_t n = 0;
    demod.onDataBit = [&](int) { times.push_back(n); };
    for (n = 1; n <= input.size(); ++n) demod.process(std::span<const float>(&input[n - 1], 1));
    return times;
}

TEST(RDSDemodulatorTest, FirstBitArrivesAtTheEndOfTheSecondSymbol) {
    const std::vector<float> signal = rdsSignal(0.01, 0.3);
    RDSDemodulator demod(kRDSTestRateHz);
    std::vector<std::size_t> times = bitTimes(demod, signal);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times[0], kFirstBitSample);
    // The same after a reset in the middle of the stream, also when the first 400 samples
    // run without a callback (the state advances all the same).
    demod.reset();
    demod.onDataBit = nullptr;
    demod.process(std::span<const float>(signal).first(400));
    times = bitTimes(demod, std::vector<float>(signal.begin() + 400, signal.end()));
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times[0] + 400, kFirstBitSample);
}

// The data bits the encoder sends, compared bit for bit with what comes out once locked.
TEST(RDSDemodulatorTest, RecoversEveryTransmittedBitAfterLock) {
    struct Case {
        const char* name;
        double rateHz;
        RDSTestChannel channel;
        float injection;  // RDS peak against full scale
    };
    const Case cases[] = {
        {"stereo", kRDSTestRateHz, {.noiseRMS = 0.05f}, 0.04f},
        {"mono", kRDSTestRateHz, {.noiseRMS = 0.05f, .pilotLevel = 0.0f}, 0.04f},
        // 2 % injection under a full-scale 15 kHz L-R tone, whose sideband is 4 kHz away
        {"treble", kRDSTestRateHz, {.stereoToneLevel = 0.9f}, 0.02f},
        {"lowest rate", 128'000.0, {.noiseRMS = 0.05f}, 0.04f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RDSEncoderConfig config{.pi = 0x5A5A,
                                      .ps = "BITS",
                                      .radioText = "Every bit",
                                      .amplitude = c.injection,
                                      .initialBitOffset = 0.6};
        RDSTestMultiplex mpx(config, c.channel, c.rateHz);
        std::vector<float> signal(static_cast<std::size_t>(3.0 * c.rateHz));
        mpx.fill(signal);
        RDSEncoder reference(config);
        std::vector<int> sent(3600);
        for (int& bit : sent) bit = reference.nextDataBit();

        RDSDemodulator demod(c.rateHz);
        std::vector<int> received;
        demod.onDataBit = [&](int b) { received.push_back(b); };
        demod.process(signal);
        ASSERT_GT(received.size(), 3500U);
        // After a second, find where the received stream sits in the sent one (the filter
        // delay and the bits before lock shift it by a few), then every bit must agree.
        constexpr std::size_t kFrom = 1200;
        std::optional<std::size_t> shift;
        for (std::size_t s = 0; s < 40 && !shift; ++s) {
            if (std::equal(received.begin() + kFrom, received.begin() + kFrom + 64,
                           sent.begin() + static_cast<std::ptrdiff_t>(kFrom - 20 + s))) {
                shift = kFrom - 20 + s;
            }
        }
        ASSERT_TRUE(shift.has_value());
        const std::size_t count = std::min(received.size() - kFrom, sent.size() - *shift);
        int errors = 0;
        for (std::size_t i = 0; i < count; ++i) errors += received[kFrom + i] != sent[*shift + i];
        EXPECT_EQ(errors, 0);
    }
}

// Groups completed between `fromSeconds` and `toSeconds` of a multiplex fed in 8192-sample
// blocks; `atBlock` runs before each block is filled.
template <typename AtBlock>
int groupsBetween(RDSTestMultiplex& mpx, RDSTestReceiver& rx, double fromSeconds, double toSeconds,
                  AtBlock atBlock) {
    std::vector<float> block(8192);
    const auto blockSeconds = static_cast<double>(block.size()) / kRDSTestRateHz;
    int before = 0;
    for (int b = 0; b * blockSeconds < toSeconds; ++b) {
        if (b * blockSeconds < fromSeconds) before = rx.groups;
        atBlock(b * blockSeconds);
        mpx.fill(block);
        rx.demodulator.process(block);
    }
    return rx.groups - before;
}

// 11.42 groups/s are sent: 57 complete in any five seconds.
constexpr int kGroupsInFiveSeconds = 57;

TEST(RDSDemodulatorTest, DecodesEveryGroupUnderLoudStereoTreble) {
    // 2 % injection; L-R tones near the top of the audio band at half and full scale put
    // their upper sideband 4-5 kHz from the RDS carrier, 27-33 dB above it.
    for (double toneHz : {14'000.0, 15'000.0}) {
        for (float level : {0.45f, 0.9f}) {
            SCOPED_TRACE(testing::Message() << toneHz << " Hz at " << level);
            RDSTestMultiplex mpx(
                {.pi = 0x23C5, .ps = "TREBLE", .radioText = "Cymbals", .amplitude = 0.02f},
                {.seed = 3, .stereoToneLevel = level, .stereoToneHz = toneHz});
            RDSTestReceiver rx;
            EXPECT_GE(groupsBetween(mpx, rx, 1.0, 6.0, [](double) {}), kGroupsInFiveSeconds);
            EXPECT_EQ(rx.ps, "TREBLE");
        }
    }
}

TEST(RDSDemodulatorTest, LocksToThePilotOnlyWhileThereIsOne) {
    RDSTestMultiplex mpx({.pi = 0x23C5, .ps = "SWITCH"}, {.noiseRMS = 0.05f, .seed = 4});
    RDSTestReceiver rx;
    bool lockedBeforeSwitch = true;
    bool lockedAfterSwitch = false;
    // Stereo for 3 s, then the station goes mono (the pilot stops) for 6 s. Decoding carries
    // on across the switch: the Costas loop starts from the pilot-derived phase.
    const int groups = groupsBetween(mpx, rx, 0.5, 9.0, [&](double t) {
        if (t >= 0.5 && t < 3.0)
            lockedBeforeSwitch = lockedBeforeSwitch && rx.demodulator.pilotLocked();
        if (t >= 3.5) lockedAfterSwitch = lockedAfterSwitch || rx.demodulator.pilotLocked();
        if (t >= 3.0) mpx.setPilotLevel(0.0f);
    });
    EXPECT_TRUE(lockedBeforeSwitch);
    EXPECT_FALSE(lockedAfterSwitch);
    // 8.5 s: 97 groups; the switch may cost one.
    EXPECT_GE(groups, 96);

    // A mono station from the start never reports a pilot.
    RDSTestMultiplex mono({.pi = 0x23C5, .ps = "MONO"},
                          {.noiseRMS = 0.05f, .seed = 5, .pilotLevel = 0.0f});
    rx.demodulator.reset();
    bool everLocked = false;
    groupsBetween(mono, rx, 0.0, 3.0, [&](double) { everLocked |= rx.demodulator.pilotLocked(); });
    EXPECT_FALSE(everLocked);
    EXPECT_EQ(rx.ps, "MONO");
}

// With a pilot the carrier phase is 3 x the pilot's plus whatever offset the station has;
// the offset loop must find it, and the pilot loop must follow a clock error.
TEST(RDSDemodulatorTest, PilotDerivedCarrierFindsAnyOffsetAndFollowsClockError) {
    for (double offsetRad : {0.0, std::numbers::pi / 2.0, -std::numbers::pi / 2.0, 2.0}) {
        for (double ppm : {0.0, 100.0, -100.0}) {
            SCOPED_TRACE(testing::Message() << offsetRad << " rad, " << ppm << " ppm");
            RDSTestMultiplex mpx({.pi = 0x23C5, .ps = "OFFSET", .carrierPhaseRad = offsetRad},
                                 {.clockErrorPPM = ppm, .noiseRMS = 0.1f, .seed = 6});
            RDSTestReceiver rx;
            bool alwaysLocked = true;
            const int groups = groupsBetween(mpx, rx, 1.0, 6.0, [&](double t) {
                if (t >= 1.0) alwaysLocked = alwaysLocked && rx.demodulator.pilotLocked();
            });
            EXPECT_TRUE(alwaysLocked);
            EXPECT_GE(groups, kGroupsInFiveSeconds);
            EXPECT_EQ(rx.ps, "OFFSET");
        }
    }
}

// A broken block upstream (NaN, infinities, absurd values) must neither hang the symbol loop
// nor leave NaN in the loops' state: decoding resumes once it has passed.
TEST(RDSDemodulatorTest, RecoversFromCorruptSamples) {
    std::vector<float> signal = rdsSignal(4.0, 0.2, 0.05f);
    const auto at = static_cast<std::size_t>(1.0 * kRDSTestRateHz);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 1e30f};
    for (std::size_t n = 0; n < 400; ++n) signal[at + n] = bad[n / 100];
    RDSTestReceiver rx;
    rx.demodulator.process(std::span<const float>(signal).first(at + 400));
    const int groupsBefore = rx.groups;
    rx.ps.clear();
    rx.demodulator.process(std::span<const float>(signal).subspan(at + 400));
    // 3 s after the burst: 34 groups sent, a few lost while the loops settle again.
    EXPECT_GE(rx.groups - groupsBefore, 30);
    EXPECT_EQ(rx.ps, "SPORT 1");
}

TEST(RDSDemodulatorTest, OutputDoesNotDependOnChunking) {
    // Noisy, so timing recovery and the half-symbol guard are busy across block edges.
    const std::vector<float> signal = rdsSignal(0.5, 0.5, 0.1f);
    auto run = [&](auto nextChunk) {
        RDSDemodulator demod(kRDSTestRateHz);
        std::vector<int> bits;
        demod.onDataBit = [&](int b) { bits.push_back(b); };
        for (std::size_t pos = 0; pos < signal.size();) {
            const std::size_t len = std::min(nextChunk(), signal.size() - pos);
            demod.process(std::span<const float>(signal).subspan(pos, len));
            pos += len;
        }
        return bits;
    };
    const std::vector<int> whole = run([&] { return signal.size(); });
    SimRandom random(5);
    // Random sizes from 0 (empty blocks do nothing) to 20,000.
    const std::vector<int> ragged =
        run([&] { return static_cast<std::size_t>(random.uniform() * 20'000.0f); });
    const std::vector<int> ones = run([] { return std::size_t{1}; });
    EXPECT_GT(whole.size(), 500U);
    EXPECT_EQ(whole, ragged);
    EXPECT_EQ(whole, ones);
}

TEST(RDSDemodulatorTest, DecodesAStationHalfASymbolOffWithinTwoSeconds) {
    // The quick check of the whole path at the receiver's rate and at the dongle's (the
    // filters, loop and timing gains follow the rate); the sweep over offsets, clock errors
    // and noise is in RDSSignalE2ETest.
    for (double rateHz : {kRDSTestRateHz, 2'048'000.0}) {
        SCOPED_TRACE(rateHz);
        const std::vector<float> signal = rdsSignal(2.0, 0.5, 0.05f, rateHz);
        RDSTestReceiver rx(rateHz);
        rx.demodulator.process(signal);
        EXPECT_EQ(rx.pi, "00A1");
        EXPECT_EQ(rx.ps, "SPORT 1");
        EXPECT_EQ(rx.pty, "Sport");
        EXPECT_EQ(rx.radioText, "Score 2:1");
    }
}

// reset() comes from the main thread while the RDS thread is inside process(); run under
// ThreadSanitizer. Both objects must come out of it working.
TEST(RDSDemodulatorTest, ResetFromAnotherThreadDuringProcess) {
    const std::vector<float> signal = rdsSignal(1.0, 0.2);
    RDSTestReceiver rx;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (std::size_t pos = 0; pos + 1024 <= signal.size(); pos += 1024) {
            rx.demodulator.process(std::span<const float>(signal).subspan(pos, 1024));
        }
        done = true;
    });
    int resets = 0;
    while (!done && resets < 2000) {
        rx.demodulator.reset();
        rx.decoder.reset();
        ++resets;
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_GT(resets, 0);
    rx.demodulator.reset();
    rx.decoder.reset();
    rx.ps.clear();
    rx.demodulator.process(rdsSignal(1.5, 0.0));
    EXPECT_EQ(rx.ps, "SPORT 1");
}

}  // namespace
