#include "dsp/StereoDecoder.h"

#include <cassert>

StereoDecoder::StereoDecoder(double sampleRate)
    : pilotPLL(sampleRate), detector(sampleRate / PilotPLL::kUpdateSamples) {}

StereoSamples StereoDecoder::process(std::span<const float> in) {
    StereoSamples out{std::vector<float>(in.size()), std::vector<float>(in.size())};
    process(in, out.left, out.right);
    return out;
}

void StereoDecoder::process(std::span<const float> in, std::span<float> left,
                            std::span<float> right) {
    assert(left.size() >= in.size() && right.size() >= in.size());
    // Twice the stereo amount: m·2r brings D·sin 2θ to baseband at unit gain.
    float difference = 2.0f * detector.stereoAmount();
    for (std::size_t n = 0; n < in.size(); ++n) {
        const float m = in[n];
        const float d = m * pilotPLL.process(m) * difference;
        left[n] = m + d;
        right[n] = m - d;
        if (pilotPLL.loopUpdated()) {
            detector.update(pilotPLL.inPhaseArm(), pilotPLL.quadratureArm());
            difference = 2.0f * detector.stereoAmount();
        }
    }
}

void StereoDecoder::reset() {
    pilotPLL.reset();
    detector.reset();
}
