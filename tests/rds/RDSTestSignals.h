#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "rds/RDSDemodulator.h"
#include "rds/RDSGroupDecoder.h"
#include "sim/RDSEncoder.h"
#include "sim/SimRandom.h"

// The rate the receiver hands RDS the discriminator output at (its channel rate).
constexpr double kRDSTestRateHz = 256'000.0;

// Receiver scale: a full-scale multiplex (75 kHz deviation) comes out of the discriminator
// at 0.35 x 2 pi x 75 kHz / 2.048 MHz = 0.0805, at whatever rate it runs.
constexpr float kDiscriminatorScale =
    static_cast<float>(0.35 * 2.0 * std::numbers::pi * 75'000.0 / 2'048'000.0);

struct RDSTestChannel {
    double clockErrorPPM = 0.0;  // transmitter's clock against the receiver's
    // White noise on the multiplex, full-scale units, as RMS over 1.024 MHz (2,048,000
    // samples/s): the density, and so the noise in the RDS band, is the same at any rate.
    float noiseRMS = 0.0f;
    std::uint64_t seed = 1;
    float pilotLevel = 0.09f;  // 0: a mono station
    // An L-R tone on the 38 kHz subcarrier (peak, full-scale units); treble near 15 kHz puts
    // its upper sideband 4 kHz from the RDS carrier.
    float stereoToneLevel = 0.0f;
    double stereoToneHz = 15'000.0;
};

// A multiplex as the receiver's discriminator hands it over: the pilot (9 % unless set), a
// 1 kHz mono tone at 30 %, an optional L-R tone, the RDS signal and noise, generated at the
// rate x (1 + clock error) and read at the rate, then scaled like the discriminator output.
class RDSTestMultiplex {
public:
    RDSTestMultiplex(const RDSEncoderConfig& config, RDSTestChannel channel,
                     double rateHz = kRDSTestRateHz)
        : encoder(config),
          noise(channel.seed),
          noiseRMS(channel.noiseRMS * static_cast<float>(std::sqrt(rateHz / 2'048'000.0))),
          pilotLevel(channel.pilotLevel),
          stereoToneLevel(channel.stereoToneLevel) {
        const double trueRateHz = rateHz * (1.0 + channel.clockErrorPPM * 1e-6);
        pilotStepRad = 2.0 * std::numbers::pi * 19'000.0 / trueRateHz;
        toneStep = std::polar(1.0, 2.0 * std::numbers::pi * 1'000.0 / trueRateHz);
        stereoToneStep =
            std::polar(1.0, 2.0 * std::numbers::pi * channel.stereoToneHz / trueRateHz);
    }

    // From the next fill() on; 0 turns the station mono.
    void setPilotLevel(float level) { pilotLevel = level; }

    void fill(std::span<float> out) {
        std::complex<double> pilot = std::polar(1.0, pilotPhaseRad);
        const std::complex<double> pilotStep = std::polar(1.0, pilotStepRad);
        for (float& v : out) {
            v = pilotLevel * static_cast<float>(pilot.real()) +
                0.3f * static_cast<float>(tone.imag());
            if (stereoToneLevel > 0.0f) {
                // DSB-SC on twice the pilot phase, as the stereo encoder sends L-R
                const double subcarrier = (pilot * pilot).real();
                v += stereoToneLevel * static_cast<float>(stereoTone.imag() * subcarrier);
                stereoTone *= stereoToneStep;
            }
            if (noiseRMS > 0.0f) v += noiseRMS * noise.gaussian();
            pilot *= pilotStep;
            tone *= toneStep;
        }
        tone /= std::abs(tone);
        stereoTone /= std::abs(stereoTone);
        encoder.render(out, {.phaseRad = pilotPhaseRad, .radPerSample = pilotStepRad});
        pilotPhaseRad = std::remainder(
            pilotPhaseRad + static_cast<double>(out.size()) * pilotStepRad, 2.0 * std::numbers::pi);
        for (float& v : out) v *= kDiscriminatorScale;
    }

private:
    RDSEncoder encoder;
    SimRandom noise;
    float noiseRMS;
    float pilotLevel;
    float stereoToneLevel;
    double pilotPhaseRad = 0.3;
    double pilotStepRad = 0.0;
    std::complex<double> tone{1.0, 0.0};
    std::complex<double> toneStep;
    std::complex<double> stereoTone{1.0, 0.0};
    std::complex<double> stereoToneStep;
};

// Demodulator and group decoder wired as the controller wires them, recording what comes out.
struct RDSTestReceiver {
    RDSDemodulator demodulator;
    RDSGroupDecoder decoder;
    int groups = 0;  // complete groups: each reports its PI
    std::string pi, ps, radioText, pty;
    bool tp = false, ta = false;

    explicit RDSTestReceiver(double rateHz = kRDSTestRateHz) : demodulator(rateHz) {
        demodulator.onDataBit = [this](int bit) { decoder.processBit(bit); };
        decoder.onPICodeUpdated = [this](const std::string& s) {
            pi = s;
            ++groups;
        };
        decoder.onPSNameUpdated = [this](const std::string& s) { ps = s; };
        decoder.onRadioTextUpdated = [this](const std::string& s) { radioText = s; };
        decoder.onPTYUpdated = [this](const std::string& s) { pty = s; };
        decoder.onTPUpdated = [this](bool b) { tp = b; };
        decoder.onTAUpdated = [this](bool b) { ta = b; };
    }
};
