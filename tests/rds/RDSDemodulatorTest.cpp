#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include "RDSTestSignals.h"
#include "rds/RDSDemodulator.h"
#include "sim/SimRandom.h"

namespace {

// ceil(2 x 256,000 / 1187.5): the first symbol after a reset only arms differential decoding.
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

TEST(RDSDemodulatorTest, UnmodulatedSubcarrierGivesZeroBits) {
    std::vector<float> carrier(static_cast<std::size_t>(3.0 * kRDSTestRateHz));
    for (std::size_t n = 0; n < carrier.size(); ++n) {
        carrier[n] =
            0.003f *
            static_cast<float>(std::cos(
                2.0 * std::numbers::pi * 57'000.0 * static_cast<double>(n) / kRDSTestRateHz + 0.7));
    }
    RDSDemodulator demod(kRDSTestRateHz);
    std::vector<int> bits;
    demod.onDataBit = [&](int b) { bits.push_back(b); };
    demod.process(carrier);
    ASSERT_GT(bits.size(), 3000U);
    // While the lightly damped Costas loop rings down (about a second at this level) the slope
    // of lpI can flip a decision; after that every decision is the same.
    EXPECT_EQ(std::count(bits.begin() + 1800, bits.end(), 1), 0);
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
    // The quick check of the whole path at the receiver's rate and at the dongle's (the loop
    // and timing gains scale with the rate); the sweep over offsets, clock errors and noise
    // is in RDSSignalE2ETest.
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
