#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/IQSample.h"
#include "sim/ADSBEncoder.h"
#include "sim/ADSBPulseResponse.h"

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
    float amplitude = 0.2f;        // pulse height at the dongle, IQ full scale 1.0
    double carrierOffsetHz = 0.0;  // transponder frequency error, Annex 10 allows ±1 MHz
    int squawk = 07000;            // Mode A code, four octal digits
    ADSBPulseEdges pulse{};
    bool hasExtendedSquitter = true;  // false: a Mode S transponder without ADS-B out
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
    std::uint64_t seed = 1;  // reply timing, carrier phases, levels, Comm-B contents
    double sampleRateHz = 2'048'000.0;
    double offsetHz = 0.0;  // 1090 MHz minus the receiver's centre
    double legSeconds = 1800.0;
    float noiseSigma = 0.0f;  // per I and Q; 0 when the dongle adds receiver noise
    ADSBReceiveFilter filter{};
    // Replies per aircraft to ground interrogations; 0 where no radar sees the aircraft.
    double allCallRepliesPerSecond = 1.5;   // DF11, on top of the acquisition squitters
    double rollCallRepliesPerSecond = 4.0;  // DF4, DF5, DF20 and DF21
    bool sendsAcquisitionSquitters = true;  // DF11 every 0.8-1.2 s (Annex 10 3.1.2.8.5)
    // Reply-to-reply level change (antenna pattern, multipath), uniform over this range in dB.
    double replyLevelSpreadDB = 2.0;
};

struct ADSBSkySettings {
    double referenceLatitudeDeg = 45.815;
    double referenceLongitudeDeg = 15.982;
    float noiseSigma = 0.01f;        // per I and Q; the levels are stated against it
    bool addsNoise = true;           // false: the dongle adds noise; levels still refer to sigma
    double weakestLevelDB = 0.0;     // see ADSBAircraftEmitter::amplitudeForLevelDB
    double strongestLevelDB = 34.0;  // 0.71 of full scale at the default sigma; 40 would clip
    double maxCarrierOffsetHz = 300'000.0;
    double sampleRateHz = 2'048'000.0;
};

// What a reply is, by the transponder's reason to send it.
enum class ADSBReplyKind {
    identification,       // DF17 type 1-4
    position,             // DF17 type 9-18
    velocity,             // DF17 type 19
    acquisitionSquitter,  // DF11, unsolicited
    allCallReply,         // DF11
    altitudeReply,        // DF4
    identityReply,        // DF5
    commBAltitudeReply,   // DF20
    commBIdentityReply,   // DF21
};

// A frame the emitter sends: which flight, when (the first preamble pulse's leading edge, in
// samples since time zero, fractional) and what, with how it reaches the dongle.
struct ADSBScheduledFrame {
    std::size_t flight = 0;
    double startSample = 0.0;
    ADSBFrameBytes bytes{};
    int bitCount = 112;  // 56 or 112; bytes past bitCount / 8 are zero
    ADSBReplyKind kind = ADSBReplyKind::position;
    float amplitude = 0.0f;        // this reply's pulse height, IQ full scale 1.0
    double carrierOffsetHz = 0.0;  // the transponder's own, before the tuned offset
    double carrierPhaseRad = 0.0;  // at startSample
    bool isOverlapped = false;     // another reply is on the air within 1 µs of this one
};

// Aircraft on 1090 MHz as a real dongle hears them. Each transponder squitters (DO-260 rates:
// identification every 4.8-5.2 s, airborne position and velocity every 0.4-0.6 s, positions
// alternating even and odd CPR format; DF11 acquisition squitters every 0.8-1.2 s) and answers
// ground interrogations with DF11, DF4, DF5, DF20 and DF21 at the configured rates. A transponder
// sends one reply at a time: a reply that would overlap one of higher precedence (interrogation
// replies, then positions, velocities, identifications, acquisition squitters) is not sent.
// Replies of different aircraft overlap freely and add. Each reply has a random start (not on
// the sample grid), a random carrier phase and a level spread; pulses have the flight's rise and
// decay, its carrier offset, and the dongle's decimation filter (ADSBPulseResponse).
//
// Ground truth for tests: framesBetween(a, b) lists every reply whose first pulse starts in
// [a, b), exactly as render() draws it, with start (fractional sample), bytes, length, kind,
// level and whether it is overlapped. A reply starting at s occupies the samples up to
// s + durationSamples(bitCount); a test that renders [0, n) asks for
// framesBetween(0, n - durationSamples(112)) to get the replies complete in its samples, and
// ADSBEncoder::hex(f.bytes, f.bitCount) for each as decoders print it. The ones a decoder must
// deliver are typically !isOverlapped with levelDBOf(amplitude, noiseSigma) above 10-15 dB.
//
// Burst times and contents are pure functions of time, so render() may be called with any block
// sizes and in any order. Const after construction except setOffsetHz, which must not run
// during render(); render() is otherwise safe from several threads.
class ADSBAircraftEmitter {
public:
    explicit ADSBAircraftEmitter(ADSBEmitterConfig config);

    // The three named demo flights within about 40 km of the reference point (amplitudes 0.05
    // to 0.3), then two distant ones about 120 km out (0.04 and 0.05, the farther one at a
    // carrier offset where the dongle's filter takes its share: decodable, but not always).
    static ADSBEmitterConfig demoConfig(double referenceLatitudeDeg, double referenceLongitudeDeg);

    // A hardware-like busy sky: aircraftCount flights around the reference point, levels spread
    // evenly in dB over the noise (the weak ones far out), carrier offsets uniform within
    // ±maxCarrierOffsetHz, pulse edges and widths spread over Annex 10's tolerances, one in
    // eight without ADS-B out.
    static ADSBEmitterConfig busySkyConfig(std::uint64_t seed, int aircraftCount,
                                           const ADSBSkySettings& settings = {});

    // Level of a pulse over complex noise of sigma per I and Q: 20·log10(amplitude / (σ·√2)).
    static float amplitudeForLevelDB(double levelDB, float noiseSigma);
    static double levelDBOf(float amplitude, float noiseSigma);

    // Adds every burst overlapping [sampleIndex, sampleIndex + out.size()) (and noise if
    // configured) to out. sampleIndex counts samples at sampleRateHz since time zero.
    void render(std::span<IQSample> out, std::uint64_t sampleIndex) const;

    // Frames whose first pulse starts in [firstSample, endSample), ordered by start.
    std::vector<ADSBScheduledFrame> framesBetween(double firstSample, double endSample) const;
    // Preamble and data of a 56- or 112-bit reply, in samples at the configured rate.
    double durationSamples(int bitCount) const;

    ADSBFlightState stateAt(std::size_t flight, double timeSeconds) const;
    const ADSBEmitterConfig& config() const { return cfg; }
    void setOffsetHz(double hz);

private:
    enum class Stream { identification, position, velocity, acquisition, allCall, rollCall };
    void collect(std::size_t flight, Stream stream, double firstSample, double endSample,
                 std::vector<ADSBScheduledFrame>& frames) const;
    ADSBScheduledFrame frameAt(std::size_t flight, Stream stream, std::uint64_t slot,
                               double timeSeconds) const;
    std::vector<ADSBScheduledFrame> candidatesBetween(double firstSample, double endSample) const;
    std::uint64_t hash(std::uint64_t a, std::uint64_t b, std::uint64_t c) const;
    void tabulateResponses();

    ADSBEmitterConfig cfg;
    std::vector<ADSBPulseResponse> responses;  // per flight, at its offset plus responsesOffsetHz
    double responsesOffsetHz = 0.0;
    double reachUs = 0.0;  // widest response's spread past its pulse
};
