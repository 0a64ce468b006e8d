#pragma once

// One-pole low-pass y += alpha * (x - y), alpha = dt / (dt + 1 / (2π f)). One sample per
// call; one caller at a time.
class SimpleLowpass {
public:
    struct Config {
        double sampleRate;  // Hz, > 0
        double cutoffHz;    // > 0
    };

    explicit SimpleLowpass(const Config& config);
    SimpleLowpass(const SimpleLowpass&) = delete;
    SimpleLowpass& operator=(const SimpleLowpass&) = delete;

    float process(float x) {
        y += alpha * (x - y);
        return y;
    }
    void reset() { y = 0.0f; }

    float smoothingFactor() const { return alpha; }

private:
    float y = 0.0f;
    const float alpha;  // about 0.2691 for 15 kHz at 256 kHz
};
