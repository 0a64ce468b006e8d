#pragma once

#include <span>
#include <vector>

// First-order DC blocker y = x - x[-1] + pole * y[-1] (pole 0.995: about 41 Hz corner at
// 51,200 Hz) on real audio samples. In place allowed (out may be in). One caller at a time.
class DCBlockFilter {
public:
    DCBlockFilter() = default;
    DCBlockFilter(const DCBlockFilter&) = delete;
    DCBlockFilter& operator=(const DCBlockFilter&) = delete;

    std::vector<float> process(std::span<const float> in);
    // Allocation-free form; out must hold in.size() values.
    void process(std::span<const float> in, std::span<float> out);
    void reset() {
        prevInput = 0.0f;
        prevOutput = 0.0f;
    }

private:
    float prevInput = 0.0f;
    float prevOutput = 0.0f;
    const float pole = 0.995f;
};
