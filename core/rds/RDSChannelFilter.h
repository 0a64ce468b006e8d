#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

// One output of RDSChannelFilter, at its output rate.
struct RDSChannelSample {
    std::complex<float> rds;    // the 57 kHz subcarrier at 0 Hz
    std::complex<float> pilot;  // the 19 kHz pilot at 0 Hz, where hasPilot
    bool hasPilot = false;      // every kPilotDecimation-th output
};

// Channel filter of the RDS demodulator. Takes the FM multiplex (real, at the input rate,
// 128 kHz or more) and hands out two complex baseband streams at `outputRateHz()` (input
// rate / decimation(), between 28 and 36 kHz; 32 kHz at 256 kHz):
//   RDS    57 kHz moved to 0 Hz: flat (0.01 dB) to 2.4 kHz, where the RDS spectrum ends,
//          70 dB down from 4 kHz, where the upper L-R sideband of 15 kHz treble sits.
//   pilot  19 kHz moved to 0 Hz: flat to 200 Hz, 70 dB down from 1.5 kHz, one value per
//          kPilotDecimation outputs.
// Both are mixed by the same numerically controlled phase, so RDS phase = 3 x pilot phase +
// whatever offset the station has, both measured at the same input instant.
//
// Stage 1, common to both: a Kaiser low-pass, 80 dB down wherever a component would fold into
// +-4 kHz of the carrier at the output rate (mono audio lands 42-72 kHz from 57 kHz), applied
// as a complex band-pass to the real input and computed only at the kept samples. Stage 2:
// sharp Kaiser low-passes at the output rate; the pilot's only every kPilotDecimation-th.
//
// Output k (from 0 after construction or reset) is computed from the input up to sample
// (k + 1) x decimation() - 1 and does not depend on how the input is cut. Non-finite input
// samples count as 0 and others are limited to +-1000. No allocation after construction. One
// caller at a time.
class RDSChannelFilter {
public:
    static constexpr int kPilotDecimation = 16;

    explicit RDSChannelFilter(double inputRateHz);
    RDSChannelFilter(const RDSChannelFilter&) = delete;
    RDSChannelFilter& operator=(const RDSChannelFilter&) = delete;

    // out must hold outputCount(in.size()) values; returns that count.
    std::size_t process(std::span<const float> in, std::span<RDSChannelSample> out);
    // Exact number of outputs the next process() of `inputCount` samples gives.
    std::size_t outputCount(std::size_t inputCount) const;
    void reset();

    int decimation() const { return factor; }
    double outputRateHz() const { return outputRate; }
    // How much older, in output samples, the signal in a pilot value is than the signal in
    // the RDS value of the same output (the two stage-2 delays differ).
    double pilotLagSamples() const { return pilotLag; }

private:
    // Input handled in one pass; bounds the line buffer.
    static constexpr std::size_t kPieceSamples = 4096;

    void processPiece(const float* in, std::size_t n, RDSChannelSample*& out);
    RDSChannelSample filterAt(const float* window);

    const int factor;
    const double outputRate;
    const double mixStepRad;  // pilot mixing phase per output, 19 kHz x decimation
    // Stage 1, reversed (oldest first) and zero-padded at the old end to a multiple of 8.
    std::vector<float> rdsTapsRe, rdsTapsIm, pilotTapsRe, pilotTapsIm;
    // Stage 2, the same layout.
    std::vector<float> rdsTaps2, pilotTaps2;
    double pilotLag = 0.0;
    double mixStartRad = 0.0;  // mixing phase of output 0

    // Stage-1 input: the last taps - 1 samples, then the current piece.
    std::vector<float> line;
    int toNextOutput = 0;  // input samples until the next kept one
    double mixPhaseRad = 0.0;
    // Stage-2 histories, each written twice (at i and i + length) so the window is contiguous.
    std::vector<float> rdsRingI, rdsRingQ, pilotRingI, pilotRingQ;
    std::size_t rdsRingPos = 0, pilotRingPos = 0;
    int toNextPilot = 0;
};
