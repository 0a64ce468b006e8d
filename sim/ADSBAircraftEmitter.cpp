#include "sim/ADSBAircraftEmitter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/SimRandom.h"

namespace {

constexpr double kPi = std::numbers::pi;

struct Schedule {
    double periodSeconds = 0.0;  // 0: the stream is silent
    double jitterSeconds = 0.0;  // uniform, plus or minus
};

// DO-260 squitter rates: position and velocity every 0.4-0.6 s, identification every 4.8-5.2 s;
// Annex 10 3.1.2.8.5.2: acquisition squitters every 0.8-1.2 s.
constexpr Schedule kIdentification{5.0, 0.2};
constexpr Schedule kPosition{0.5, 0.1};
constexpr Schedule kVelocity{0.5, 0.1};
constexpr Schedule kAcquisition{1.0, 0.2};

// A tuned offset this far from the tabulated one shifts the filter edge by under 1 % of its
// width; the carrier itself always turns at the exact offset.
constexpr double kRetabulateHz = 2'000.0;
constexpr double kOverlapGuardUs = 1.0;

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double unit(std::uint64_t h) {
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// Replies to interrogations cannot wait; squitters give way to them and to each other.
int precedenceOf(ADSBReplyKind kind) {
    switch (kind) {
        case ADSBReplyKind::acquisitionSquitter:
            return 0;
        case ADSBReplyKind::identification:
            return 1;
        case ADSBReplyKind::velocity:
            return 2;
        case ADSBReplyKind::position:
            return 3;
        default:
            return 4;
    }
}

}  // namespace

ADSBAircraftEmitter::ADSBAircraftEmitter(ADSBEmitterConfig config) : cfg(std::move(config)) {
    tabulateResponses();
}

void ADSBAircraftEmitter::tabulateResponses() {
    responses.clear();
    responses.reserve(cfg.flights.size());
    reachUs = 0.0;
    for (const ADSBFlight& f : cfg.flights) {
        responses.emplace_back(f.pulse, cfg.filter, cfg.sampleRateHz,
                               f.carrierOffsetHz + cfg.offsetHz);
        reachUs = std::max({reachUs, -responses.back().beginUs(), responses.back().endUs()});
    }
    responsesOffsetHz = cfg.offsetHz;
}

void ADSBAircraftEmitter::setOffsetHz(double hz) {
    cfg.offsetHz = hz;
    if (std::fabs(hz - responsesOffsetHz) > kRetabulateHz) tabulateResponses();
}

ADSBEmitterConfig ADSBAircraftEmitter::demoConfig(double referenceLatitudeDeg,
                                                  double referenceLongitudeDeg) {
    ADSBEmitterConfig config;
    const double lat = referenceLatitudeDeg;
    const double lon = referenceLongitudeDeg;
    config.flights = {
        {.icao = 0x4CA7B2,
         .callsign = "RYR7QW",
         .startLatitudeDeg = lat + 0.25,
         .startLongitudeDeg = lon - 0.30,
         .startAltitudeFeet = 37'000.0,
         .groundSpeedKnots = 452.0,
         .trackDeg = 118.0,
         .verticalRateFpm = 0.0,
         .amplitude = 0.12f,
         .carrierOffsetHz = 180'000.0,
         .squawk = 02143,
         .pulse = {.riseUs = 0.06, .decayUs = 0.09, .widthUs = 0.49}},
        {.icao = 0x3C6DD4,
         .callsign = "DLH4KT",
         .startLatitudeDeg = lat - 0.18,
         .startLongitudeDeg = lon + 0.22,
         .startAltitudeFeet = 8'000.0,
         .groundSpeedKnots = 265.0,
         .trackDeg = 305.0,
         .verticalRateFpm = 1'856.0,
         .amplitude = 0.30f,
         .carrierOffsetHz = -210'000.0,
         .squawk = 01000,
         .pulse = {.riseUs = 0.09, .decayUs = 0.15, .widthUs = 0.52}},
        {.icao = 0x501C4F,
         .callsign = "CTN431",
         .startLatitudeDeg = lat + 0.05,
         .startLongitudeDeg = lon + 0.40,
         .startAltitudeFeet = 24'000.0,
         .groundSpeedKnots = 380.0,
         .trackDeg = 212.0,
         .verticalRateFpm = -1'216.0,
         .amplitude = 0.05f,
         .carrierOffsetHz = 95'000.0,
         .squawk = 04671,
         .pulse = {.riseUs = 0.05, .decayUs = 0.07, .widthUs = 0.47}},
        // Distant traffic: weaker, heading across the area rather than out of it.
        {.icao = 0x44A1F3,
         .callsign = "AUA71P",
         .startLatitudeDeg = lat + 1.05,
         .startLongitudeDeg = lon + 0.45,
         .startAltitudeFeet = 39'000.0,
         .groundSpeedKnots = 468.0,
         .trackDeg = 160.0,
         .verticalRateFpm = 0.0,
         .amplitude = 0.04f,
         .carrierOffsetHz = -270'000.0,
         .squawk = 06412,
         .pulse = {.riseUs = 0.08, .decayUs = 0.18, .widthUs = 0.53}},
        {.icao = 0x471E62,
         .callsign = "WZZ3RB",
         .startLatitudeDeg = lat - 0.85,
         .startLongitudeDeg = lon - 1.10,
         .startAltitudeFeet = 33'000.0,
         .groundSpeedKnots = 441.0,
         .trackDeg = 62.0,
         .verticalRateFpm = 0.0,
         .amplitude = 0.05f,
         .carrierOffsetHz = 240'000.0,
         .squawk = 05307,
         .pulse = {.riseUs = 0.07, .decayUs = 0.11, .widthUs = 0.50}},
    };
    return config;
}

ADSBEmitterConfig ADSBAircraftEmitter::busySkyConfig(std::uint64_t seed, int aircraftCount,
                                                     const ADSBSkySettings& settings) {
    // Airline designators to make callsigns look like traffic, not a test pattern.
    static constexpr const char* kAirlines[] = {"DLH", "RYR", "EZY", "AUA", "CTN", "WZZ", "BAW",
                                                "AFR", "KLM", "SWR", "LOT", "THY", "UAE", "QTR",
                                                "TVS", "SAS", "IBE", "AEE", "ENT", "EJU"};
    constexpr double kFarthestKm = 350.0;
    constexpr double kNearestKm = 3.0;
    constexpr double kKmPerDegree = 111.2;
    ADSBEmitterConfig config;
    config.seed = seed;
    config.sampleRateHz = settings.sampleRateHz;
    config.noiseSigma = settings.addsNoise ? settings.noiseSigma : 0.0f;
    SimRandom rng(seed * 0x9E3779B97F4A7C15ull + 0x5D);
    const auto uniform = [&rng](double lo, double hi) { return lo + (hi - lo) * rng.uniform(); };
    for (int n = 0; n < aircraftCount; ++n) {
        const double share = aircraftCount > 1 ? static_cast<double>(n) / (aircraftCount - 1) : 0.0;
        const double levelDB = settings.strongestLevelDB -
                               share * (settings.strongestLevelDB - settings.weakestLevelDB);
        // Free-space loss: 6 dB weaker at twice the distance.
        const double km = std::max(
            kNearestKm, kFarthestKm * std::pow(10.0, -(levelDB - settings.weakestLevelDB) / 20.0));
        const double bearingRad = uniform(0.0, 2.0 * kPi);
        const double lat = settings.referenceLatitudeDeg + km * std::cos(bearingRad) / kKmPerDegree;
        const double lon = settings.referenceLongitudeDeg +
                           km * std::sin(bearingRad) / (kKmPerDegree * std::cos(lat * kPi / 180.0));
        std::uint32_t icao = 0;
        while (icao == 0 || std::any_of(config.flights.begin(), config.flights.end(),
                                        [icao](const ADSBFlight& f) { return f.icao == icao; })) {
            icao = rng.nextU32() & 0xFFFFFFu;
        }
        const bool isNear = km < 40.0;
        const double verticalRate =
            rng.uniform() < 0.7 ? 0.0 : 64.0 * std::round(uniform(-40.0, 40.0));
        config.flights.push_back({
            .icao = icao,
            .callsign = std::string(kAirlines[rng.nextU32() % std::size(kAirlines)]) +
                        std::to_string(1 + rng.nextU32() % 9999),
            .startLatitudeDeg = lat,
            .startLongitudeDeg = lon,
            .startAltitudeFeet =
                100.0 * std::round(isNear ? uniform(20.0, 120.0) : uniform(150.0, 410.0)),
            .groundSpeedKnots = std::round(isNear ? uniform(160.0, 300.0) : uniform(380.0, 490.0)),
            .trackDeg = std::round(uniform(0.0, 359.0)),
            .verticalRateFpm = verticalRate,
            .amplitude = amplitudeForLevelDB(levelDB, settings.noiseSigma),
            .carrierOffsetHz = std::round(uniform(-1.0, 1.0) * settings.maxCarrierOffsetHz),
            .squawk = static_cast<int>(01000 * (1 + rng.nextU32() % 6) + rng.nextU32() % 01000),
            .pulse = {.riseUs = uniform(0.05, 0.1),
                      .decayUs = uniform(0.05, 0.2),
                      .widthUs = uniform(0.45, 0.55)},
            .hasExtendedSquitter = n % 8 != 5,
        });
    }
    return config;
}

float ADSBAircraftEmitter::amplitudeForLevelDB(double levelDB, float noiseSigma) {
    return static_cast<float>(noiseSigma * std::numbers::sqrt2 * std::pow(10.0, levelDB / 20.0));
}

double ADSBAircraftEmitter::levelDBOf(float amplitude, float noiseSigma) {
    return 20.0 * std::log10(amplitude / (noiseSigma * std::numbers::sqrt2));
}

double ADSBAircraftEmitter::durationSamples(int bitCount) const {
    const double us = bitCount == 56 ? ADSBEncoder::kShortFrameUs : ADSBEncoder::kFrameUs;
    return us * 1e-6 * cfg.sampleRateHz;
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
    double lon = f.startLongitudeDeg + distanceNm * std::sin(trackRad) /
                                           (60.0 * std::cos(f.startLatitudeDeg * kPi / 180.0));
    lon = lon - 360.0 * std::floor((lon + 180.0) / 360.0);
    return {.latitudeDeg = lat,
            .longitudeDeg = lon,
            .altitudeFeet = f.startAltitudeFeet + f.verticalRateFpm * t / 60.0,
            .groundSpeedKnots = f.groundSpeedKnots,
            .trackDeg = f.trackDeg,
            .verticalRateFpm = f.verticalRateFpm};
}

ADSBScheduledFrame ADSBAircraftEmitter::frameAt(std::size_t flight, Stream stream,
                                                std::uint64_t slot, double timeSeconds) const {
    const ADSBFlight& f = cfg.flights[flight];
    const auto id = static_cast<std::uint64_t>(stream);
    const ADSBFlightState st = stateAt(flight, timeSeconds);
    const int altitude = static_cast<int>(std::lround(st.altitudeFeet));
    const double spreadDB = cfg.replyLevelSpreadDB * (unit(hash(flight, id + 32, slot)) - 0.5);
    ADSBScheduledFrame frame{
        .flight = flight,
        .startSample = timeSeconds * cfg.sampleRateHz,
        .amplitude = static_cast<float>(f.amplitude * std::pow(10.0, spreadDB / 20.0)),
        .carrierOffsetHz = f.carrierOffsetHz,
        .carrierPhaseRad = 2.0 * kPi * unit(hash(flight, id + 16, slot))};
    const ADSBReplyFields reply{.icao = f.icao, .altitudeFeet = altitude, .squawk = f.squawk};
    switch (stream) {
        case Stream::identification:
            frame.kind = ADSBReplyKind::identification;
            frame.bytes = ADSBEncoder::identification({.icao = f.icao, .callsign = f.callsign});
            break;
        case Stream::position:
            frame.kind = ADSBReplyKind::position;
            frame.bytes = ADSBEncoder::airbornePosition({.icao = f.icao,
                                                         .latitudeDeg = st.latitudeDeg,
                                                         .longitudeDeg = st.longitudeDeg,
                                                         .altitudeFeet = altitude,
                                                         .isOdd = (slot % 2) == 1});
            break;
        case Stream::velocity:
            frame.kind = ADSBReplyKind::velocity;
            frame.bytes = ADSBEncoder::airborneVelocity(
                {.icao = f.icao,
                 .groundSpeedKnots = st.groundSpeedKnots,
                 .trackDeg = st.trackDeg,
                 .verticalRateFpm = static_cast<int>(std::lround(st.verticalRateFpm))});
            break;
        case Stream::acquisition:
        case Stream::allCall:
            frame.kind = stream == Stream::acquisition ? ADSBReplyKind::acquisitionSquitter
                                                       : ADSBReplyKind::allCallReply;
            frame.bytes = ADSBEncoder::allCallReply(reply);
            break;
        case Stream::rollCall: {
            // Mix of a radar that mostly asks for altitude and Comm-B registers, sometimes
            // identity.
            const double which = unit(hash(flight, id + 48, slot));
            // The level the crew has selected: where the climb or descent will end, in thousands.
            const double target = st.altitudeFeet + 2.0 * st.verticalRateFpm;
            const std::uint64_t mb =
                unit(hash(flight, id + 64, slot)) < 0.5
                    ? ADSBEncoder::identificationMB(f.callsign)
                    : ADSBEncoder::verticalIntentionMB(
                          static_cast<int>(1000.0 * std::round(target / 1000.0)), 1013.2);
            if (which < 0.4) {
                frame.kind = ADSBReplyKind::altitudeReply;
                frame.bytes = ADSBEncoder::altitudeReply(reply);
            } else if (which < 0.5) {
                frame.kind = ADSBReplyKind::identityReply;
                frame.bytes = ADSBEncoder::identityReply(reply);
            } else if (which < 0.85) {
                frame.kind = ADSBReplyKind::commBAltitudeReply;
                frame.bytes = ADSBEncoder::commBAltitudeReply(reply, mb);
            } else {
                frame.kind = ADSBReplyKind::commBIdentityReply;
                frame.bytes = ADSBEncoder::commBIdentityReply(reply, mb);
            }
            break;
        }
    }
    frame.bitCount = ADSBEncoder::bitCountOf(frame.bytes);
    return frame;
}

void ADSBAircraftEmitter::collect(std::size_t flight, Stream stream, double firstSample,
                                  double endSample, std::vector<ADSBScheduledFrame>& frames) const {
    const ADSBFlight& f = cfg.flights[flight];
    const auto everyReply = [](double perSecond) {
        return perSecond > 0.0 ? Schedule{1.0 / perSecond, 0.5 / perSecond} : Schedule{};
    };
    Schedule s;
    switch (stream) {
        case Stream::identification:
            s = f.hasExtendedSquitter ? kIdentification : Schedule{};
            break;
        case Stream::position:
            s = f.hasExtendedSquitter ? kPosition : Schedule{};
            break;
        case Stream::velocity:
            s = f.hasExtendedSquitter ? kVelocity : Schedule{};
            break;
        case Stream::acquisition:
            s = cfg.sendsAcquisitionSquitters ? kAcquisition : Schedule{};
            break;
        case Stream::allCall:
            s = everyReply(cfg.allCallRepliesPerSecond);
            break;
        case Stream::rollCall:
            s = everyReply(cfg.rollCallRepliesPerSecond);
            break;
    }
    if (s.periodSeconds <= 0.0) return;
    const auto id = static_cast<std::uint64_t>(stream);
    const double phase = s.periodSeconds * unit(hash(flight, id, 0xFFFF'FFFFull));
    const double t0 = firstSample / cfg.sampleRateHz;
    const double t1 = endSample / cfg.sampleRateHz;
    const double kFirst =
        std::max(0.0, std::floor((t0 - phase - s.jitterSeconds) / s.periodSeconds));
    const double kLast = std::ceil((t1 - phase + s.jitterSeconds) / s.periodSeconds);
    for (double kd = kFirst; kd <= kLast; kd += 1.0) {
        const auto k = static_cast<std::uint64_t>(kd);
        const double jitter = s.jitterSeconds * (2.0 * unit(hash(flight, id, k)) - 1.0);
        const double t = phase + kd * s.periodSeconds + jitter;
        const double start = t * cfg.sampleRateHz;
        if (t < 0.0 || start < firstSample || start >= endSample) continue;
        frames.push_back(frameAt(flight, stream, k, t));
    }
}

std::vector<ADSBScheduledFrame> ADSBAircraftEmitter::candidatesBetween(double firstSample,
                                                                       double endSample) const {
    // Whether a reply is sent depends only on the same transponder's replies within one frame
    // length of it, so widening the window by that much makes the answer independent of it.
    const double margin = durationSamples(112) + 1.0;
    std::vector<ADSBScheduledFrame> wide;
    std::vector<ADSBScheduledFrame> sent;
    for (std::size_t f = 0; f < cfg.flights.size(); ++f) {
        wide.clear();
        for (Stream s : {Stream::identification, Stream::position, Stream::velocity,
                         Stream::acquisition, Stream::allCall, Stream::rollCall}) {
            collect(f, s, firstSample - margin, endSample + margin, wide);
        }
        for (const ADSBScheduledFrame& a : wide) {
            if (a.startSample < firstSample || a.startSample >= endSample) continue;
            const double aEnd = a.startSample + durationSamples(a.bitCount);
            const int rank = precedenceOf(a.kind);
            const bool blocked =
                std::any_of(wide.begin(), wide.end(), [&](const ADSBScheduledFrame& b) {
                    if (&b == &a || b.startSample >= aEnd ||
                        b.startSample + durationSamples(b.bitCount) <= a.startSample) {
                        return false;
                    }
                    const int other = precedenceOf(b.kind);
                    return other > rank || (other == rank && b.startSample < a.startSample);
                });
            if (!blocked) sent.push_back(a);
        }
    }
    return sent;
}

std::vector<ADSBScheduledFrame> ADSBAircraftEmitter::framesBetween(double firstSample,
                                                                   double endSample) const {
    const double guard = kOverlapGuardUs * 1e-6 * cfg.sampleRateHz;
    const double margin = durationSamples(112) + guard + 1.0;
    std::vector<ADSBScheduledFrame> all =
        candidatesBetween(firstSample - margin, endSample + margin);
    std::sort(all.begin(), all.end(), [](const ADSBScheduledFrame& a, const ADSBScheduledFrame& b) {
        return a.startSample < b.startSample;
    });
    std::vector<ADSBScheduledFrame> frames;
    for (std::size_t n = 0; n < all.size(); ++n) {
        ADSBScheduledFrame frame = all[n];
        if (frame.startSample < firstSample || frame.startSample >= endSample) continue;
        const double end = frame.startSample + durationSamples(frame.bitCount) + guard;
        // Sorted by start: earlier replies that last into this one, later ones that begin in it.
        for (std::size_t m = n; m-- > 0 && all[m].startSample > frame.startSample - margin;) {
            if (all[m].startSample + durationSamples(all[m].bitCount) + guard > frame.startSample) {
                frame.isOverlapped = true;
            }
        }
        for (std::size_t m = n + 1; m < all.size() && all[m].startSample < end; ++m) {
            frame.isOverlapped = true;
        }
        frames.push_back(frame);
    }
    return frames;
}

void ADSBAircraftEmitter::render(std::span<IQSample> out, std::uint64_t sampleIndex) const {
    if (out.empty()) return;
    const double first = static_cast<double>(sampleIndex);
    const double end = first + static_cast<double>(out.size());
    const double reachSamples = reachUs * 1e-6 * cfg.sampleRateHz + 2.0;
    for (const ADSBScheduledFrame& frame :
         candidatesBetween(first - durationSamples(112) - reachSamples, end + reachSamples)) {
        ADSBEncoder::render(out, frame.startSample - first, frame.bytes,
                            {.amplitude = frame.amplitude,
                             .carrierPhaseRad = frame.carrierPhaseRad,
                             .carrierOffsetHz = frame.carrierOffsetHz + cfg.offsetHz,
                             .sampleRateHz = cfg.sampleRateHz,
                             .bitCount = frame.bitCount},
                            responses[frame.flight]);
    }
    if (cfg.noiseSigma <= 0.0f) return;
    // Counter-based noise (SplitMix64 over the sample index, Marsaglia's polar method): sample n
    // always gets the same value, whatever the block boundaries.
    const std::uint64_t key = hash(11, 13, 17);
    const float sigma = cfg.noiseSigma;
    for (std::size_t n = 0; n < out.size(); ++n) {
        std::uint64_t h = mix(key + (sampleIndex + n) * 0x9E3779B97F4A7C15ull);
        float u = 0.0f, v = 0.0f, r2 = 0.0f;
        for (;;) {
            u = static_cast<float>(h >> 40) * (2.0f / 16777216.0f) - 1.0f;
            v = static_cast<float>((h >> 16) & 0xFFFFFFu) * (2.0f / 16777216.0f) - 1.0f;
            r2 = u * u + v * v;
            if (r2 < 1.0f && r2 > 0.0f) break;
            h = mix(h);
        }
        const float scale = sigma * std::sqrt(-2.0f * std::log(r2) / r2);
        out[n].i += u * scale;
        out[n].q += v * scale;
    }
}
