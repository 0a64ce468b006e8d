#pragma once

#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/DABEmitter.h"
#include "sim/DABPlusToneSource.h"
#include "sim/DABTxEnsemble.h"
#include "sim/DemoDABMedia.h"
#include "sim/RDSEncoder.h"
#include "sim/RFScene.h"

enum class DemoStationKind { fmStereo, fmMono, am, carrier, nbfm, dab };

// RDS content of a demo FM station: exactly what its encoder is configured with.
using DemoRDS = RDSEncoderConfig;

struct DemoStation {
    std::string name;  // FM names fit an 8-character programme-service field
    double frequencyHz = 0.0;
    DemoStationKind kind = DemoStationKind::fmStereo;
    double amplitude = 0.0;  // full-scale units at the reference gain
    std::optional<DemoRDS> rds;  // FM stations; one has none, as on a real band
    bool operator==(const DemoStation&) const = default;
};

// Where the receiver starts listening, and the demo's tones there (left and right differ so a
// swapped or mono decode is audible and testable).
inline constexpr double kDemoStartFrequencyHz = 92'100'000.0;
inline constexpr double kDemoLeftToneHz = 1'000.0;
inline constexpr double kDemoRightToneHz = 2'000.0;
inline constexpr double kDemoToneAmplitude = 0.5;
inline constexpr double kDemoAMToneHz = 1'000.0;
// The demo dongle's crystal is off by +1.5 ppm, like a TCXO dongle: about -140 Hz at 92.1 MHz
// with the receiver's default correction of 0 ppm.
inline constexpr double kDemoCrystalPPM = 1.5;
inline constexpr double kDemoNoiseFloorRms = 0.002;
// The demo's home: aircraft fly and APRS stations sit around it.
inline constexpr double kDemoLatitudeDeg = 45.815;
inline constexpr double kDemoLongitudeDeg = 15.982;
inline constexpr double kDemoADSBFrequencyHz = 1'090'000'000.0;

// Band III DAB ensembles of the demo (mode I). 12C is the stronger of the two.
inline constexpr double kDemoDAB12CFrequencyHz = 227'360'000.0;
inline constexpr double kDemoDAB5CFrequencyHz = 178'352'000.0;
inline constexpr double kDemoDAB12CAmplitude = 0.07;
inline constexpr double kDemoDAB5CAmplitude = 0.05;

// The programme of a DAB+ service: a steady tone (one per side when stereo), distinct for every
// service of the demo, so a test can tell which service it decoded from the tone that dominates.
struct DemoDABProgramme {
    std::uint16_t sid = 0;
    int subchannelId = 0;
    DABPlusToneProgramme audio;  // sample rate, channels, tones and level
    std::optional<DemoDABPAD> pad;  // dynamic label and slideshow (12C's 0x2C11 only)
    bool operator==(const DemoDABProgramme&) const = default;
};

struct DemoDABEnsemble {
    std::string channel;  // "12C"
    double frequencyHz = 0.0;
    double amplitude = 0.0;  // complex rms of the OFDM symbols, full-scale units at reference gain
    DABTxEnsemble ensemble;
    // One per audio service on an EEP-A sub-channel; UEP sub-channels carry no audio yet.
    std::vector<DemoDABProgramme> programmes;
    // The station logo, the only object of the data service's MOT carousel (directory mode,
    // repeated as long as the ensemble is on air).
    std::vector<std::uint8_t> logoPNG;
    std::uint32_t logoServiceId = 0;  // the data service's SId
    std::string logoName;             // its MOT ContentName
    std::uint16_t logoTransportId = 0;
    bool operator==(const DemoDABEnsemble&) const = default;
};

// What the demo's DAB transmitters send, so tests can compare a decode with it.
std::vector<DemoDABEnsemble> demoDABEnsembles();
// The emitter of a demo ensemble with its programmes (echo on, as in the demo scene).
DABEmitterConfig demoDABEmitterConfig(const DemoDABEnsemble& ensemble);
// The programme of a demo DAB+ service by its SId; nullopt for services without audio.
std::optional<DemoDABProgramme> demoDABProgramme(std::uint16_t sid);

// What the demo FM station on frequencyHz sends as RDS; nullopt for none (or no station).
std::optional<DemoRDS> demoRDS(double frequencyHz);

// The stations of the demo world, in frequency order; a DAB ensemble is one station named
// "DAB <channel>".
std::vector<DemoStation> demoStations();

// The world a new user sees without hardware: FM broadcast in 87.5–108 MHz (one at 92.1 MHz
// with neighbours in the same 2 MHz view), AM in the airband and on CB channel 19, CW carriers
// an idle NBFM channel on the APRS frequency and two DAB ensembles in Band III.
std::shared_ptr<RFScene> makeDemoScene(double crystalPPM = kDemoCrystalPPM);
