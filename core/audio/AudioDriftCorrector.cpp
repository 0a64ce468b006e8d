#include "audio/AudioDriftCorrector.h"

#include <algorithm>

AudioDriftCorrector::AudioDriftCorrector(AudioDriftCorrectorConfig config) : cfg(config) {}

double AudioDriftCorrector::update(double depthSeconds, double elapsedSeconds) {
    if (!hasDepth) {
        smoothedDepth = depthSeconds;
        hasDepth = true;
    } else {
        const double alpha = std::min(1.0, elapsedSeconds / cfg.smoothingSeconds);
        smoothedDepth += (depthSeconds - smoothedDepth) * alpha;
    }
    const double offTarget = smoothedDepth - cfg.targetSeconds;
    const double error = offTarget > cfg.toleranceSeconds    ? offTarget - cfg.toleranceSeconds
                         : offTarget < -cfg.toleranceSeconds ? offTarget + cfg.toleranceSeconds
                                                             : 0.0;
    const double kp = 1.0 / cfg.timeConstantSeconds;
    const double ki = kp * kp / 4.0;
    // The integral alone may reach the full correction, no further (no wind-up).
    const double integralLimit = cfg.maxCorrection / ki;
    integral = std::clamp(integral + error * elapsedSeconds, -integralLimit, integralLimit);
    const double wanted =
        std::clamp(kp * error + ki * integral, -cfg.maxCorrection, cfg.maxCorrection);
    const double maxStep = cfg.maxSlewPerSecond * elapsedSeconds;
    lastCorrection += std::clamp(wanted - lastCorrection, -maxStep, maxStep);
    return lastCorrection;
}

void AudioDriftCorrector::reset() {
    hasDepth = false;
    smoothedDepth = 0.0;
    integral = 0.0;
    lastCorrection = 0.0;
}
