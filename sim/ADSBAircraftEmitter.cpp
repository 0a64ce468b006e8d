#include "sim/ADSBAircraftEmitter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;

struct Schedule {
    double periodSeconds;
    double jitterSeconds;  // uniform, plus or minus
};

// DO-260 squitter rates: position and velocity every 0.4-0.6 s, identification every 4.8-5.2 s.
constexpr Schedule kIdentification{5.0, 0.2};
constexpr Schedule kPosition{0.5, 0.1};
constexpr Schedule kVelocity{0.5, 0.1};

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double unit(std::uint64_t h) { return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0); }

}  // namespace

ADSBAircraftEmitter::ADSBAircraftEmitter(ADSBEmitterConfig config) 
    : cfg(std::move(config)), shaper(ADSBPulseShaper::gaussian(cfg.edgeSigmaUs)) {}

ADSBEmitterConfig ADSBAircraftEmitter::demoConfig(double referenceLatitudeDeg,
                                                   double referenceLongitudeDeg) {
    ADSBEmitterConfig config;
    const double lat = referenceLatitudeDeg;
    const double lon = referenceLongitudeDeg;
    config.flights = {
        {.icao = 0x4CA7B2, .callsign = "RYR7QW", .startLatitudeDeg = lat + 0.25,
         .startLongitudeDeg = lon - 0.30, .startAltitudeFeet = 37'000.0, .groundSpeedKnots = 452.0,
         .trackDeg = 118.0, .verticalRateFpm = 0.0, .amplitude = 0.12f, .carrierOffsetHz = 18'000.0},
        {.icao = 0x3C6DD4, .callsign = "DLH4KT", .startLatitudeDeg = lat - 0.18,
         .startLongitudeDeg = lon + 0.22, .startAltitudeFeet = 8'000.0, .groundSpeedKnots = 265.0,
         .trackDeg = 305.0, .verticalRateFpm = 1'856.0, .amplitude = 0.30f, .carrierOffsetHz = -9'000.0},
        {.icao = 0x501C4F, .callsign = "CTN431", .startLatitudeDeg = lat + 0.05,
         .startLongitudeDeg = lon + 0.40, .startAltitudeFeet = 24'000.0, .groundSpeedKnots = 380.0,
         .trackDeg = 212.0, .verticalRateFpm = -1'216.0, .amplitude = 0.05f, .carrierOffsetHz = 31'000.0},
    };
    return config;
}

std::uint64_t ADSBAircraftEmitter::hash(std::uint64_t a, std::uint64_t b, std::uint64_t c) const {
    return mix(mix(mix(cfg.seed ^ 0x9E3779B97F4A7C15ull) ^ a) ^ (b * 0x632BE59BD9B4E019ull) ^ c);
}

ADSBFlightState ADSBAircraftEmitter::stateAt(std::size_t flight, double timeSeconds) const {
    const ADSBFlight& f = cfg.flights[flight];
    const double t = std::fmod(std::max(timeSeconds, 0.0), cfg.legSeconds);
    const double distanceNm = f.groundSpeedKnots * t / 3600.0;
    const double trackRad = f.trackDeg * kPi / 180.0;
    const double lat = f.startLatitudeDeg + distanceNm * std::cos(trackRad) / 60.0;
    double lon = f.startLongitudeDeg +
                 distanceNm * std::sin(trackRad) / (60.0 * std::cos(f.startLatitudeDeg * kPi / 180.0));
    lon = lon - 360.0 * std::floor((lon + 180.0) / 360.0);
    return {.latitudeDeg = lat, .longitudeDeg = lon,
            .altitudeFeet = f.startAltitudeFeet + f.verticalRateFpm * t / 60.0,
            .groundSpeedKnots = f.groundSpeedKnots, .trackDeg = f.trackDeg,
            .verticalRateFpm = f.verticalRateFpm};
}

void ADSBAircraftEmitter::collect(std::size_t flight, Kind kind, double firstSample,
                                  double endSample, std::vector<ADSBScheduledFrame>& frames) const {
    const Schedule s = kind == Kind::identification ? kIdentification
                       : kind == Kind::position     ? kPosition
                                                    : kVelocity;
    const auto kindId = static_cast<std::uint64_t>(kind);
    const double phase = s.periodSeconds * unit(hash(flight, kindId, 0xFFFF'FFFFull));
    const double t0 = firstSample / cfg.sampleRateHz;
    const double t1 = endSample / cfg.sampleRateHz;
    const double kFirst = std::max(0.0, std::floor((t0 - phase - s.jitterSeconds) / s.periodSeconds));
    const double kLast = std::ceil((t1 - phase + s.jitterSeconds) / s.periodSeconds);
    const ADSBFlight& f = cfg.flights[flight];
    for (double kd = kFirst; kd <= kLast; kd += 1.0) {
        const auto k = static_cast<std::uint64_t>(kd);
        const double jitter = s.jitterSeconds * (2.0 * unit(hash(flight, kindId, k)) - 1.0);
        const double t = std::max(0.0, phase + kd * s.periodSeconds + jitter);
        const double start = t * cfg.sampleRateHz;
        if (start < firstSample || start >= endSample) continue;
        const ADSBFlightState st = stateAt(flight, t);
        ADSBScheduledFrame frame{.flight = flight, .startSample = start};
        switch (kind) {
        case Kind::identification:
            frame.bytes = ADSBEncoder::identification({.icao = f.icao, .callsign = f.callsign});
            break;
        case Kind::position:
            frame.bytes = ADSBEncoder::airbornePosition(
                {.icao = f.icao, .latitudeDeg = st.latitudeDeg, .longitudeDeg = st.longitudeDeg,
                 .altitudeFeet = static_cast<int>(std::lround(st.altitudeFeet)),
                 .isOdd = (k % 2) == 1});
            break;
        case Kind::velocity:
            frame.bytes = ADSBEncoder::airborneVelocity(
                {.icao = f.icao, .groundSpeedKnots = st.groundSpeedKnots, .trackDeg = st.trackDeg,
                 .verticalRateFpm = static_cast<int>(std::lround(st.verticalRateFpm))});
            break;
        }
        frames.push_back(frame);
    }
}

std::vector<ADSBScheduledFrame> ADSBAircraftEmitter::framesBetween(double firstSample,
                                                                   double endSample) const {
    std::vector<ADSBScheduledFrame> frames;
    for (std::size_t f = 0; f < cfg.flights.size(); ++f) {
        for (Kind kind : {Kind::identification, Kind::position, Kind::velocity}) {
            collect(f, kind, firstSample, endSample, frames);
        }
    }
    std::sort(frames.begin(), frames.end(),
              [](const ADSBScheduledFrame& a, const ADSBScheduledFrame& b) {
                  return a.startSample < b.startSample;
              });
    return frames;
}

void ADSBAircraftEmitter::render(std::span<IQSample> out, std::uint64_t sampleIndex) const {
    if (out.empty()) return;
    const double first = static_cast<double>(sampleIndex);
    const double frameSamples = (ADSBEncoder::kFrameUs + shaper.reachUs()) * 1e-6 * cfg.sampleRateHz + 2.0;
    const double end = first + static_cast<double>(out.size());
    for (const ADSBScheduledFrame& frame : framesBetween(first - frameSamples, end + shaper.reachUs() * 1e-6 * cfg.sampleRateHz + 2.0)) {
        const ADSBFlight& f = cfg.flights[frame.flight];
        // The carrier phase of each burst is random; the offset keeps rotating from the burst's start.
        const double phase =
            2.0 * kPi * unit(hash(frame.flight, 7, static_cast<std::uint64_t>(frame.startSample)));
        ADSBEncoder::render(out, frame.startSample - first, frame.bytes,
                            {.amplitude = f.amplitude, .carrierPhaseRad = phase,
                             .carrierOffsetHz = f.carrierOffsetHz + cfg.offsetHz,
                             .sampleRateHz = cfg.sampleRateHz},
                            shaper);
    }
    if (cfg.noiseSigma <= 0.0f) return;
    // Counter-based noise: sample n always gets the same value, whatever the block boundaries.
    for (std::size_t n = 0; n < out.size(); ++n) {
        const std::uint64_t h = hash(sampleIndex + n, 11, 13);
        const double u1 = std::max(unit(h), 1e-300);
        const double u2 = unit(mix(h));
        const double r = cfg.noiseSigma * std::sqrt(-2.0 * std::log(u1));
        out[n].i += static_cast<float>(r * std::cos(2.0 * kPi * u2));
        out[n].q += static_cast<float>(r * std::sin(2.0 * kPi * u2));
    }
}
