#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/IQSample.h"
#include "sim/ADSBEncoder.h"

// One simulated flight: straight and level (or climbing) from its start point, flown again from
// the start after legSeconds so that the demo world stays near its reference point.
struct ADSBFlight {
    std::uint32_t icao = 0;
    std::string callsign;
    double startLatitudeDeg = 0.0;
    double startLongitudeDeg = 0.0;
    double startAltitudeFeet = 0.0;
    double groundSpeedKnots = 0.0;
    double trackDeg = 0.0;
    double verticalRateFpm = 0.0;
    float amplitude = 0.2f;           // pulse envelope at the dongle, IQ full scale 1.0
    double carrierOffsetHz = 0.0;     // transponder frequency error
};

struct ADSBFlightState {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    double altitudeFeet = 0.0;
    double groundSpeedKnots = 0.0;
    double trackDeg = 0.0;
    double verticalRateFpm = 0.0;
};

struct ADSBEmitterConfig {
    std::vector<ADSBFlight> flights;
    std::uint64_t seed = 1;           // burst timing jitter and carrier phases
    double sampleRateHz = 2'048'000.0;
    double offsetHz = 0.0;            // 1090 MHz minus the receiver's centre
    double legSeconds = 1800.0;
    float noiseSigma = 0.0f;          // per I and Q; 0 when the dongle adds receiver noise
    double edgeSigmaUs = 0.03;  // Gaussian pulse edges (Annex 10 rise time 0.05-0.1 µs)
};

// A frame the emitter sends: which flight, when (first preamble pulse, in samples) and what.
struct ADSBScheduledFrame {
    std::size_t flight = 0;
    double startSample = 0.0;
    ADSBFrameBytes bytes{};
};

// Aircraft squittering on 1090 MHz (DO-260 rates): identification every 5 s, airborne position
// twice a second alternating even and odd CPR format, velocity twice a second, each with a
// random jitter. Burst times and contents are pure functions of time, so render() may be called
// with any block sizes and in any order. Const after construction except setOffsetHz; render()
// is then safe from several threads.
class ADSBAircraftEmitter {
public:
    explicit ADSBAircraftEmitter(ADSBEmitterConfig config);

    // Three flights within about 40 km of the reference point, amplitudes 0.05 to 0.3.
    static ADSBEmitterConfig demoConfig(double referenceLatitudeDeg, double referenceLongitudeDeg);

    // Adds every burst overlapping [sampleIndex, sampleIndex + out.size()) (and noise if
    // configured) to out. sampleIndex counts samples at sampleRateHz since time zero.
    void render(std::span<IQSample> out, std::uint64_t sampleIndex) const;

    // Frames whose first pulse starts in [firstSample, endSample), ordered by start.
    std::vector<ADSBScheduledFrame> framesBetween(double firstSample, double endSample) const;

    ADSBFlightState stateAt(std::size_t flight, double timeSeconds) const;
    const ADSBEmitterConfig& config() const { return cfg; }
    void setOffsetHz(double hz) { cfg.offsetHz = hz; }

private:
    enum class Kind { identification, position, velocity };
    void collect(std::size_t flight, Kind kind, double firstSample, double endSample,
                 std::vector<ADSBScheduledFrame>& frames) const;
    std::uint64_t hash(std::uint64_t a, std::uint64_t b, std::uint64_t c) const;

    ADSBEmitterConfig cfg;
    ADSBPulseShaper shaper;
};
