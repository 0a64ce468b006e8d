#pragma once

#include <span>
#include <vector>

// One-pole FM de-emphasis (50 µs in Europe, ITU-R BS.450) on real audio samples at the
// configured rate. In place allowed (out may be in). One caller at a time.
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
    void reset() { prevOutput = 0.0f; }

    float smoothingFactor() const { return alpha; }

private:
    float prevOutput = 0.0f;
    const float alpha;  // 0.28089887 for 50 µs at 51,200 Hz
};
