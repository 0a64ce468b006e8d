#pragma once

#include <span>
#include <vector>

// FM de-emphasis (50 µs in Europe, ITU-R BS.450; 75 µs in the Americas): the analogue
// 1 / (1 + jωτ) as a first-order IIR, y[n] = b0·x[n] + b1·x[n-1] + pole·y[n-1], on real audio
// samples at the configured rate. The pole is matched (e^(-T/τ)), the gain is 1 at DC and
// the zero puts the magnitude exactly on the analogue curve at a quarter of the sample rate:
// at 51,200 Hz it stays within 0.08 dB of the curve up to 15 kHz, where a plain one-pole
// y += α(x - y) is 1 dB off around 6 kHz. In place allowed (out may be in). One caller at a
// time.
class DeEmphasisFilter {
public:
    struct Config {
        double sampleRate;                // Hz, > 0
        double timeConstantMicroseconds;  // 50 for Europe, 75 for the Americas
    };

    explicit DeEmphasisFilter(const Config& config);
    DeEmphasisFilter(const DeEmphasisFilter&) = delete;
    DeEmphasisFilter& operator=(const DeEmphasisFilter&) = delete;

    std::vector<float> process(std::span<const float> in);
    // Allocation-free form; out must hold in.size() values.
    void process(std::span<const float> in, std::span<float> out);
    void reset() { prevInput = prevOutput = 0.0f; }

private:
    struct Coefficients {
        float b0, b1, pole;
    };
    static Coefficients design(const Config& config);

    const Coefficients k;
    float prevInput = 0.0f;
    float prevOutput = 0.0f;
};
