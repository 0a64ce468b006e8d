#include "dsp/PilotPLL.h"

namespace {
double hzToRadiansPerSample(double hz, double sampleRate) {
    return 2.0 * std::numbers::pi * hz / sampleRate;
}
}  // namespace

PilotPLL::PilotPLL(double sampleRate)
    : freq(hzToRadiansPerSample(19'000.0, sampleRate)),
      centerFreq(hzToRadiansPerSample(19'000.0, sampleRate)),
      freqRange(hzToRadiansPerSample(800.0, sampleRate)),
      envelopeLowpass({.sampleRate = sampleRate, .cutoffHz = 30.0}) {}

double PilotPLL::wrapFar(double p) {
    double r = std::fmod(p, kTwoPi);
    if (r < 0.0) r += kTwoPi;
    return (r >= 0.0 && r < kTwoPi) ? r : 0.0;
}
