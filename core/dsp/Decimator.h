#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "dsp/StreamingFIRDecimator.h"

// Fixed two-stage decimation by 40 of real samples: a 129-tap 100 kHz low-pass with factor 8,
// then a 129-tap 15 kHz low-pass with factor 5 at an eighth of the input rate (2,048,000 Hz
// in, 51,200 Hz out in the system). One caller at a time.
class Decimator {
public:
    static constexpr int kStage1Factor = 8;
    static constexpr int kStage2Factor = 5;
    static constexpr int kTotalFactor = kStage1Factor * kStage2Factor;

    // `factor` is accepted for the caller's documentation only: the total is always 40.
    explicit Decimator(int factor, double inputRate = 2'048'000.0);
    Decimator(const Decimator&) = delete;
    Decimator& operator=(const Decimator&) = delete;

    std::vector<float> process(std::span<const float> in);
    // Allocation-free form: out must hold outputCount(in.size()) values; returns that count.
    std::size_t process(std::span<const float> in, std::span<float> out);

    std::size_t outputCount(std::size_t inputCount) const;
    void reset();

    const StreamingFIRDecimator& firstStage() const { return stage1; }
    const StreamingFIRDecimator& secondStage() const { return stage2; }

private:
    static constexpr std::size_t kPieceSamples = 8192;

    StreamingFIRDecimator stage1;
    StreamingFIRDecimator stage2;
    std::vector<float> intermediate;  // stage 1 output of one piece, sized at construction
};
