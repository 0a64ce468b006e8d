#pragma once

#include <cstddef>
#include <span>
#include <vector>

struct SimInterpolatorConfig {
    int factor = 8;                 // output rate / input rate
    double inputRateHz = 256'000.0;
    double passbandHz = 60'000.0;   // flat up to here
    double stopbandHz = 196'000.0;  // images from here up are attenuated by attenuationDB
    double attenuationDB = 80.0;
    std::size_t maxInputBlock = 1024;  // scratch reserved at construction
};

// Real polyphase interpolator by an integer factor with a Kaiser-windowed sinc (unity passband
// gain). Used to lift a modulating signal generated at a moderate rate to the dongle's rate
// before the phase or amplitude modulation is applied, so the modulator stays image free.
// Output does not depend on how the input is chunked. One caller at a time.
class SimInterpolator {
public:
    explicit SimInterpolator(const SimInterpolatorConfig& config);
    SimInterpolator(const SimInterpolator&) = delete;
    SimInterpolator& operator=(const SimInterpolator&) = delete;
    SimInterpolator(SimInterpolator&&) = default;
    SimInterpolator& operator=(SimInterpolator&&) = default;

    int factor() const { return interpolation; }
    std::size_t tapsPerPhase() const { return phaseLength; }
    // out must hold in.size() * factor() values.
    void process(std::span<const float> in, std::span<float> out);
    void reset();

private:
    static constexpr std::size_t kGroup = 8;

    int interpolation;
    std::size_t phaseLength;
    std::size_t groupCount = 0;
    std::vector<float> phaseTaps;  // see the constructor for the layout
    std::vector<float> history;    // the last phaseLength - 1 inputs, oldest first
    std::vector<float> work;       // history followed by the current input block
};
