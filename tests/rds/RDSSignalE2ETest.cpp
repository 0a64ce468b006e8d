#include <gtest/gtest.h>

#include <vector>

#include "RDSTestSignals.h"

namespace {

struct ReceptionCase {
    const char* name;
    float noiseRMS;
    double seconds;
    int minGroupsLastThreeSeconds;
};

// Clean: the full rate (11.4 groups/s, 34 in three seconds) from the second second on.
// Noisy: white noise of 0.1 RMS on the multiplex, 2.5 x the RDS peak; decoding starts to
// lose groups near 0.25. Weak: 0.2 RMS, where about one group in twenty is lost. Only the
// last three of six seconds are counted, which leaves the Costas loop of a mono station time
// to pull in over a 100 ppm clock error.
const ReceptionCase kLevels[] = {
    {"clean", 0.0f, 4.0, 33},
    {"noisy", 0.1f, 6.0, 31},
    {"weak", 0.2f, 6.0, 28},
};

// Stereo stations give the carrier phase through the pilot; mono ones leave it to the Costas
// loop.
class RDSReceptionTest
    : public testing::TestWithParam<std::tuple<ReceptionCase, double, bool>> {};

TEST_P(RDSReceptionTest, DecodesEveryFieldAtEveryBitClockOffset) {
    const auto& [level, clockErrorPPM, stereo] = GetParam();
    constexpr int kOffsets = 8;
    for (int k = 0; k < kOffsets; ++k) {
        const double offset = static_cast<double>(k) / kOffsets;
        SCOPED_TRACE(testing::Message() << "bit clock offset " << offset);
        RDSTestMultiplex mpx({.pi = 0x23C5,
                              .pty = 10,
                              .tp = true,
                              .ta = true,
                              .ps = "VANTIREL",
                              .radioText = "Hello from the simulated radio",
                              .initialBitOffset = offset},
                             {.clockErrorPPM = clockErrorPPM,
                              .noiseRMS = level.noiseRMS,
                              .seed = 100 + static_cast<std::uint64_t>(k),
                              .pilotLevel = stereo ? 0.09f : 0.0f});
        RDSTestReceiver rx;
        std::vector<float> block(8192);
        const auto blocks = static_cast<int>(level.seconds * kRDSTestRateHz / block.size());
        const int countFrom = blocks - static_cast<int>(3.0 * kRDSTestRateHz / block.size());
        int groupsBefore = 0;
        for (int b = 0; b < blocks; ++b) {
            if (b == countFrom) groupsBefore = rx.groups;
            mpx.fill(block);
            rx.demodulator.process(block);
        }
        EXPECT_GE(rx.groups - groupsBefore, level.minGroupsLastThreeSeconds);
        EXPECT_EQ(rx.pi, "23C5");
        EXPECT_EQ(rx.ps, "VANTIREL");
        EXPECT_EQ(rx.pty, "Pop glazba");
        EXPECT_EQ(rx.radioText, "Hello from the simulated radio");
        EXPECT_TRUE(rx.tp);
        EXPECT_TRUE(rx.ta);
        EXPECT_EQ(rx.demodulator.pilotLocked(), stereo);
    }
}

INSTANTIATE_TEST_SUITE_P(LevelsAndClockErrors, RDSReceptionTest,
                         testing::Combine(testing::ValuesIn(kLevels),
                                          testing::Values(0.0, 100.0, -100.0),
                                          testing::Bool()),
                         [](const auto& info) {
                             const double ppm = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    (ppm < 0 ? "minus" : "plus") +
                                    std::to_string(static_cast<int>(std::abs(ppm))) + "ppm_" +
                                    (std::get<2>(info.param) ? "stereo" : "mono");
                         });

}  // namespace
