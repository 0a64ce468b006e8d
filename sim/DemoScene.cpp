#include "sim/DemoScene.h"

#include <cmath>

#include "sim/AMEmitter.h"
#include "sim/CarrierEmitter.h"
#include "sim/FMBroadcastEmitter.h"
#include "sim/NBFMEmitter.h"

namespace {
// Programme tones per FM station, so each one sounds different.
struct FMTones {
    double leftHz;
    double rightHz;
};
FMTones tonesFor(double frequencyHz) {
    if (frequencyHz == kDemoStartFrequencyHz) return {kDemoLeftToneHz, kDemoRightToneHz};
    // 400..1,900 Hz left, a fifth above right: distinct per station, inside every audio path.
    const double step = std::fmod(frequencyHz / 100'000.0, 16.0);
    const double left = 400.0 + 100.0 * std::floor(step);
    return {left, left * 1.5};
}

std::shared_ptr<RFEmitter> makeEmitter(const DemoStation& s) {
    switch (s.kind) {
    case DemoStationKind::fmStereo:
    case DemoStationKind::fmMono: {
        const FMTones t = tonesFor(s.frequencyHz);
        const bool stereo = s.kind == DemoStationKind::fmStereo;
        FMProgramme programme{.left = {{.frequencyHz = t.leftHz, .amplitude = kDemoToneAmplitude}},
                              .right = {{.frequencyHz = t.rightHz, .amplitude = kDemoToneAmplitude}},
                              .isStereo = stereo};
        if (!stereo) programme.right = programme.left;
        return std::make_shared<FMBroadcastEmitter>(FMBroadcastConfig{
            .carrierHz = s.frequencyHz, .amplitude = s.amplitude, .programme = programme});
    }
    case DemoStationKind::am:
        return std::make_shared<AMEmitter>(AMEmitterConfig{
            .carrierHz = s.frequencyHz,
            .amplitude = s.amplitude,
            .modulationDepth = 0.7,
            .tones = {{.frequencyHz = kDemoAMToneHz, .amplitude = 1.0}}});
    case DemoStationKind::carrier:
        return std::make_shared<CarrierEmitter>(
            CarrierEmitterConfig{.frequencyHz = s.frequencyHz, .amplitude = s.amplitude});
    case DemoStationKind::nbfm:
        return std::make_shared<NBFMEmitter>(
            NBFMEmitterConfig{.carrierHz = s.frequencyHz, .amplitude = s.amplitude});
    }
    return nullptr;
}
}  // namespace

std::vector<DemoStation> demoStations() {
    using K = DemoStationKind;
    return {
        {"CB 19", 27'185'000.0, K::am, 0.008},
        {"KLASIK", 88'900'000.0, K::fmMono, 0.03},
        {"JADRAN", 91'300'000.0, K::fmStereo, 0.02},
        {"VANTIREL", kDemoStartFrequencyHz, K::fmStereo, 0.05},
        {"OTOK", 92'900'000.0, K::fmStereo, 0.008},
        {"RIVA", 93'400'000.0, K::fmStereo, 0.03},
        {"SJEVER", 95'700'000.0, K::fmStereo, 0.015},
        {"OBALA", 98'500'000.0, K::fmStereo, 0.04},
        {"VAL 101", 101'100'000.0, K::fmMono, 0.004},
        {"ZAGORA", 104'600'000.0, K::fmStereo, 0.025},
        {"Tower 118.300", 118'300'000.0, K::am, 0.02},
        {"Guard 121.500", 121'500'000.0, K::am, 0.006},
        {"ATIS 124.850", 124'850'000.0, K::am, 0.015},
        {"APRS 144.800", 144'800'000.0, K::nbfm, 0.02},
        {"Beacon 145.000", 145'000'000.0, K::carrier, 0.01},
        {"ISM 433.920", 433'920'000.0, K::carrier, 0.005},
    };
}

std::shared_ptr<RFScene> makeDemoScene(double crystalPPM) {
    auto scene = std::make_shared<RFScene>(
        RFSceneConfig{.noiseFloorRms = kDemoNoiseFloorRms, .crystalPPM = crystalPPM});
    for (const DemoStation& s : demoStations()) scene->addEmitter(makeEmitter(s));
    return scene;
}
