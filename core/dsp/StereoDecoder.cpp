#include "dsp/StereoDecoder.h"

#include <cassert>

StereoDecoder::StereoDecoder(double sampleRate)
    : pilotFilter({.sampleRate = sampleRate, .centerHz = 19'000.0, .q = 25.0}),
      pilotPLL(sampleRate),
      lrLowpass1({.sampleRate = sampleRate, .cutoffHz = 15'000.0}),
      lrLowpass2({.sampleRate = sampleRate, .cutoffHz = 15'000.0}),
      mainLowpass1({.sampleRate = sampleRate, .cutoffHz = 15'000.0}),
      mainLowpass2({.sampleRate = sampleRate, .cutoffHz = 15'000.0}) {}

StereoSamples StereoDecoder::process(std::span<const float> in) {
    StereoSamples out{std::vector<float>(in.size()), std::vector<float>(in.size())};
    process(in, out.left, out.right);
    return out;
}

void StereoDecoder::process(std::span<const float> in, std::span<float> left,
                            std::span<float> right) {
    assert(left.size() >= in.size() && right.size() >= in.size());
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float m = in[n];
        const float reference = pilotPLL.process(pilotFilter.process(m));
        // m carries (L-R)/2 × sin(2θ); × 2 × sin(2θ) brings it to baseband at unit gain.
        const float d = lrLowpass2.process(lrLowpass1.process(m * reference * 2.0f));
        const float s = mainLowpass2.process(mainLowpass1.process(m));
        left[n] = (s + d) * 0.5f * stereoGain;
        right[n] = (s - d) * 0.5f * stereoGain;
    }
}
