#pragma once

#include <span>
#include <vector>

// Second-order IIR notch (RBJ audio EQ cookbook) on demodulated audio, direct form I. The
// centre is held within [50 Hz, fs/2 - 50 Hz]. In place allowed (out may be in). One caller
// at a time.
class NotchFilter {
public:
    struct Config {
        double sampleRate;   // Hz, > 0 (51,200 in the system)
        double frequencyHz;  // notch centre
        double q;            // > 0 (10 in the system)
    };

    explicit NotchFilter(const Config& config);
    NotchFilter(const NotchFilter&) = delete;
    NotchFilter& operator=(const NotchFilter&) = delete;

    // New coefficients; the filter memory is kept.
    void configure(const Config& config);
    std::vector<float> process(std::span<const float> in);
    // Allocation-free form; out must hold in.size() values.
    void process(std::span<const float> in, std::span<float> out);
    // Clears the filter memory; the coefficients are kept.
    void reset() { x1 = x2 = y1 = y2 = 0.0f; }

    // Centre actually used by the last configure(), after limiting.
    double centerHz() const { return notchHz; }

private:
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;  // a0 = 1
    float x1 = 0.0f, x2 = 0.0f;
    float y1 = 0.0f, y2 = 0.0f;
    double notchHz = 0.0;
};
