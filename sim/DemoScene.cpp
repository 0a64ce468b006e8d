#include "sim/DemoScene.h"

#include <cmath>
#include <memory>

#include "sim/ADSBAircraftEmitter.h"
#include "sim/AMEmitter.h"
#include "sim/APRSStationSchedule.h"
#include "sim/CarrierEmitter.h"
#include "sim/DABEmitter.h"
#include "sim/FMBroadcastEmitter.h"
#include "sim/NBFMEmitter.h"
#include "sim/RDSEncoder.h"

#include <numbers>

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

// Aircraft on 1090 MHz as a scene emitter: the bursts are a pure function of time, so the
// adapter only passes the offset from the tuned centre on, and rebuilds the sky when the dongle
// changes its sample rate (pulse timing and the decimation filter follow the rate).
class ADSBSceneEmitter final : public RFEmitter {
public:
    explicit ADSBSceneEmitter(ADSBEmitterConfig config)
        : emitter(std::make_unique<ADSBAircraftEmitter>(std::move(config))) {}
    double carrierHz() const override { return kDemoADSBFrequencyHz; }
    double occupiedBandwidthHz() const override { return 2'000'000.0; }
    void render(std::span<IQSample> out, const RenderContext& ctx) override {
        if (ctx.sampleRateHz != emitter->config().sampleRateHz) {
            ADSBEmitterConfig config = emitter->config();
            config.sampleRateHz = ctx.sampleRateHz;
            config.offsetHz = ctx.offsetHz;
            emitter = std::make_unique<ADSBAircraftEmitter>(std::move(config));
        }
        emitter->setOffsetHz(ctx.offsetHz);
        emitter->render(out, ctx.sampleIndex);
    }

private:
    std::unique_ptr<ADSBAircraftEmitter> emitter;
};

void addRDS(FMBroadcastEmitter& fm, const DemoRDS& rds) {
    auto encoder = std::make_shared<RDSEncoder>(rds);
    fm.setSubcarrierSource([encoder](std::span<float> mpx, const FMMultiplexBlock& block) {
        if (block.pilotPhaseRad.empty()) return;
        // The emitter's pilot is sin θ; the encoder counts its clock from cos, a quarter turn on.
        const double first = block.pilotPhaseRad[0];
        encoder->render(mpx, {.phaseRad = first - std::numbers::pi / 2.0,
                              .radPerSample = 2.0 * std::numbers::pi * FMBroadcastEmitter::kPilotHz /
                                              block.sampleRateHz});
    });
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
        auto fm = std::make_shared<FMBroadcastEmitter>(FMBroadcastConfig{
            .carrierHz = s.frequencyHz, .amplitude = s.amplitude, .programme = programme});
        if (s.rds) addRDS(*fm, *s.rds);
        return fm;
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
    case DemoStationKind::dab:
        for (const DemoDABEnsemble& e : demoDABEnsembles())
            if (e.frequencyHz == s.frequencyHz)
                return std::make_shared<DABEmitter>(demoDABEmitterConfig(e));
        return nullptr;
    case DemoStationKind::nbfm: {
        auto nbfm = std::make_shared<NBFMEmitter>(
            NBFMEmitterConfig{.carrierHz = s.frequencyHz, .amplitude = s.amplitude});
        auto schedule = std::make_shared<APRSStationSchedule>(
            APRSStationSchedule::demoStations(kDemoLatitudeDeg, kDemoLongitudeDeg), AFSKSettings{});
        nbfm->setAudioSource([schedule](std::span<float> audio, double) { schedule->render(audio); });
        return nbfm;
    }
    }
    return nullptr;
}
}  // namespace

std::vector<DemoDABEnsemble> demoDABEnsembles() {
    using P = DABTxProtection;
    // Sizes: EEP-A n·8 kbit/s takes 12n, 8n, 6n, 4n CU at 1-A..4-A; UEP index 26 is 96 kbit/s
    // at level 3 in 70 CU. Sub-channels are packed from CU 0 as a multiplexer would.
    DABTxEnsemble c12{
        .label = "Đakovo-Čakovec",
        .eid = 0x2C01,
        .services = {{0x2C11, "Radio Šibenik", 1, true},
                     {0x2C12, "Žuta Podmornica", 2},
                     {0x2C13, "Međimurje FM", 3},
                     {0x2C14, "Jazz Đakovo", 4}},
        .subchannels = {{.id = 1, .startCU = 0, .sizeCU = 72, .eepLevel = 3},     // 96 kbit/s 3-A
                        {.id = 2, .startCU = 72, .sizeCU = 48, .eepLevel = 3},    // 64 kbit/s 3-A
                        {.id = 3, .startCU = 120, .sizeCU = 36, .eepLevel = 3},   // 48 kbit/s 3-A
                        {.id = 4, .startCU = 156, .sizeCU = 64, .eepLevel = 2},   // 64 kbit/s 2-A
                        {.id = 17, .startCU = 220, .sizeCU = 12, .eepLevel = 3}}, // 16 kbit/s 3-A
        .dataService = DABTxDataService{.sid = 0xE3C2C017, .label = "Slike i vijesti",
                                        .subchannelId = 17, .serviceComponentId = 1, .packetAddress = 1}};
    DABTxEnsemble c5{
        .label = "Požega-Osijek",
        .eid = 0x2C02,
        .services = {{0x2C21, "Slavonski Radio", 1},
                     {0x2C22, "Klasika Čepin", 2},
                     {0x2C23, "Đurđevac Hitovi", 3},
                     {0x2C24, "Dječji Radio", 4}},
        .subchannels = {{.id = 1, .startCU = 0, .sizeCU = 60, .eepLevel = 3},    // 80 kbit/s 3-A
                        {.id = 2, .startCU = 60, .sizeCU = 70, .protection = P::uep, .uepIndex = 26},
                        {.id = 3, .startCU = 130, .sizeCU = 48, .eepLevel = 2},  // 48 kbit/s 2-A
                        {.id = 4, .startCU = 178, .sizeCU = 16, .eepLevel = 4},   // 32 kbit/s 4-A
                        {.id = 18, .startCU = 194, .sizeCU = 12, .eepLevel = 3}}, // 16 kbit/s 3-A
        .dataService = DABTxDataService{.sid = 0xE3C2C018, .label = "Slavonija Info",
                                        .subchannelId = 18, .serviceComponentId = 1, .packetAddress = 1}};
    // 48 kHz mono tones unless stated; all are multiples of 50 Hz, so each loops in one
    // super-frame. 5C's Dječji Radio runs at 32 kHz, its UEP service carries no audio.
    const auto mono = [](std::uint16_t sid, int sub, double hz, int rateHz = 48'000) {
        return DemoDABProgramme{.sid = sid, .subchannelId = sub,
                                .audio = {.sampleRateHz = rateHz, .leftToneHz = hz, .rightToneHz = hz}};
    };
    std::vector<DemoDABProgramme> p12{
        {.sid = 0x2C11, .subchannelId = 1, .audio = {.isStereo = true, .leftToneHz = 500.0, .rightToneHz = 750.0},
         .pad = demoDABPAD()},
        mono(0x2C12, 2, 700.0), mono(0x2C13, 3, 900.0), mono(0x2C14, 4, 1'100.0)};
    std::vector<DemoDABProgramme> p5{mono(0x2C21, 1, 600.0), mono(0x2C23, 3, 800.0), mono(0x2C24, 4, 1'200.0, 32'000)};
    const auto withLogo = [](DemoDABEnsemble e, const char* name, std::uint16_t transportId) {
        e.logoPNG = demoDABLogoPNG(e.channel);
        e.logoServiceId = e.ensemble.dataService->sid;
        e.logoName = name;
        e.logoTransportId = transportId;
        return e;
    };
    return {withLogo({"5C", kDemoDAB5CFrequencyHz, kDemoDAB5CAmplitude, std::move(c5), std::move(p5)},
                     "slavonija_info_logo.png", 0x1052),
            withLogo({"12C", kDemoDAB12CFrequencyHz, kDemoDAB12CAmplitude, std::move(c12), std::move(p12)},
                     "slike_i_vijesti_logo.png", 0x1012)};
}

DABEmitterConfig demoDABEmitterConfig(const DemoDABEnsemble& e) {
    DABEmitterConfig config{.carrierHz = e.frequencyHz, .amplitude = e.amplitude, .ensemble = e.ensemble};
    for (const DemoDABProgramme& p : e.programmes) {
        config.programmes.push_back({.subchannelId = p.subchannelId, .programme = p.audio});
        if (p.pad) config.programmes.back().pad = p.pad->carousel;
    }
    if (!e.logoPNG.empty())
        config.dataCarousel = DABEmitterMOTCarousel{.objects = {{.transportId = e.logoTransportId,
                                                                 .contentName = e.logoName,
                                                                 .contentSubtype = kMOTImagePNG,
                                                                 .body = e.logoPNG}}};
    return config;
}

std::optional<DemoDABProgramme> demoDABProgramme(std::uint16_t sid) {
    for (const DemoDABEnsemble& e : demoDABEnsembles())
        for (const DemoDABProgramme& p : e.programmes)
            if (p.sid == sid) return p;
    return std::nullopt;
}

namespace {

// The start station sends everything a modern station does: Croatian text, RadioText+ for
// the running song, clock time, AF list, PTYN, ECC and language.
DemoRDS vantirelRDS() {
    const std::string text = "Vantirel: Đurđa Kovačić - Šetnja uz Dravu";
    return {.pi = 0xC201,
            .pty = 10,
            .tp = true,
            .ps = "VANTIREL",
            .radioText = text,
            .alternativeFrequenciesKHz = {89'700, 94'300, 100'500, 106'100},
            .extendedCountryCode = 0xE3,  // Croatia, with country nibble C of the PI
            .languageCode = 0x04,         // Croatian
            .clockTime = RDSEncoderClockTime{.year = 2026, .month = 12, .day = 8, .hourUTC = 12,
                                             .minuteUTC = 0, .localOffsetHalfHours = 2},
            .ptyName = "Domaće",
            .radioTextPlus = true,
            .radioTextPlusTags = RDSEncoder::itemTags(text, "Đurđa Kovačić", "Šetnja uz Dravu")};
}

}  // namespace

std::vector<DemoStation> demoStations() {
    using K = DemoStationKind;
    const auto rds = [](std::uint16_t pi, int pty, bool tp, const char* ps, const char* rt) {
        return std::optional<DemoRDS>(DemoRDS{.pi = pi, .pty = pty, .tp = tp, .ta = false, .ps = ps, .radioText = rt});
    };
    // SJEVER sends version B groups (PS in 0B, a 32-character RadioText in 2B), with
    // diacritics in both.
    std::optional<DemoRDS> sjever = rds(0xC215, 3, false, "ČAKOVEC", "Sjever - vijesti iz Međimurja");
    sjever->versionB = true;
    return {
        {"CB 19", 27'185'000.0, K::am, 0.008},
        {"KLASIK", 88'900'000.0, K::fmMono, 0.03, rds(0xC211, 14, false, "KLASIK", "Klasika cijeli dan - Vantirel demo")},
        {"JADRAN", 91'300'000.0, K::fmStereo, 0.02, rds(0xC212, 10, false, "JADRAN", "Jadran FM - pop i vijesti")},
        {"VANTIREL", kDemoStartFrequencyHz, K::fmStereo, 0.05, vantirelRDS()},
        {"OTOK", 92'900'000.0, K::fmStereo, 0.025, rds(0xC213, 6, false, "OTOK", "Radio Otok")},
        {"RIVA", 93'400'000.0, K::fmStereo, 0.03, rds(0xC214, 11, true, "RIVA", "Riva radio - rock")},
        {"SJEVER", 95'700'000.0, K::fmStereo, 0.015, sjever},
        {"OBALA", 98'500'000.0, K::fmStereo, 0.04, rds(0xC216, 5, true, "OBALA", "Obala FM - promet i more")},
        {"VAL 101", 101'100'000.0, K::fmMono, 0.004},
        {"ZAGORA", 104'600'000.0, K::fmStereo, 0.025, rds(0xC217, 12, false, "ZAGORA", "Zagora - narodna glazba")},
        {"Tower 118.300", 118'300'000.0, K::am, 0.02},
        {"Guard 121.500", 121'500'000.0, K::am, 0.006},
        {"ATIS 124.850", 124'850'000.0, K::am, 0.015},
        {"APRS 144.800", 144'800'000.0, K::nbfm, 0.02},
        {"Beacon 145.000", 145'000'000.0, K::carrier, 0.01},
        {"DAB 5C", kDemoDAB5CFrequencyHz, K::dab, kDemoDAB5CAmplitude},
        {"DAB 12C", kDemoDAB12CFrequencyHz, K::dab, kDemoDAB12CAmplitude},
        {"ISM 433.920", 433'920'000.0, K::carrier, 0.005},
    };
}

std::optional<DemoRDS> demoRDS(double frequencyHz) {
    for (const DemoStation& s : demoStations())
        if (s.frequencyHz == frequencyHz) return s.rds;
    return std::nullopt;
}

std::shared_ptr<RFScene> makeDemoScene(double crystalPPM) {
    auto scene = std::make_shared<RFScene>(
        RFSceneConfig{.noiseFloorRms = kDemoNoiseFloorRms, .crystalPPM = crystalPPM});
    for (const DemoStation& s : demoStations()) scene->addEmitter(makeEmitter(s));
    scene->addEmitter(std::make_shared<ADSBSceneEmitter>(
        ADSBAircraftEmitter::demoConfig(kDemoLatitudeDeg, kDemoLongitudeDeg)));
    return scene;
}
