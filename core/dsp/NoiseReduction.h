#pragma once

#include <span>
#include <vector>

// Downward expander on demodulated audio: a fast envelope and a slow noise floor (falling
// ten times faster than it rises); audio whose envelope is near the floor is attenuated by
// up to `amount` (0 … 1), audio at three times the floor or more passes unchanged. Rate
// independent (tuned for 51,200 Hz). In place allowed (out may be in). One caller at a time.
class NoiseReduction {
public:
    explicit NoiseReduction(float amount = 0.5f);
    NoiseReduction(const NoiseReduction&) = delete;
    NoiseReduction& operator=(const NoiseReduction&) = delete;

    std::vector<float> process(std::span<const float> in);
    // Allocation-free form; out must hold in.size() values.
    void process(std::span<const float> in, std::span<float> out);
    void reset();

    // Read only when the receiver starts; not for use while another thread processes.
    void setAmount(float value) { amount = value; }
    float envelopeLevel() const { return envelope; }
    float noiseFloorLevel() const { return noiseFloor; }

private:
    static constexpr float kInitialFloor = 0.01f;
    // Below this floor there is nothing to expand against; gain stays 1.
    static constexpr float kMinFloor = 0.0001f;

    float noiseFloor = kInitialFloor;
    const float floorAlphaUp = 0.0002f;
    const float floorAlphaDown = 0.002f;
    float envelope = 0.0f;
    const float envAlpha = 0.05f;
    float amount;
};
