#pragma once

// Second-order band-pass biquad, constant 0 dB peak gain form (RBJ audio EQ cookbook):
// unit gain and zero phase at the centre frequency. Direct form I, one sample per call.
// One caller at a time.
class BandpassFilter {
public:
    struct Config {
        double sampleRate;  // Hz, > 0
        double centerHz;
        double q;  // > 0; bandwidth = centerHz / q
    };

    explicit BandpassFilter(const Config& config);
    BandpassFilter(const BandpassFilter&) = delete;
    BandpassFilter& operator=(const BandpassFilter&) = delete;

    float process(float x) {
        const float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
    void reset() { x1 = x2 = y1 = y2 = 0.0f; }

private:
    float b0, b1, b2, a1, a2;  // normalised so that a0 = 1
    float x1 = 0.0f, x2 = 0.0f;
    float y1 = 0.0f, y2 = 0.0f;
};
