#include "adsb/ADSBDecoder.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "platform/DebugLog.h"

namespace {

constexpr std::size_t kWindowCapacity = 4'096 + 512;

// Preamble pulses at 0, 1.0, 3.5 and 4.5 µs (ICAO Annex 10 Vol IV, 3.1.2.1.3), as chips.
constexpr std::array<bool, 16> kPreambleChips{true,  false, true,  false, false, false,
                                              false, true,  false, true,  false, false,
                                              false, false, false, false};
// A band-limited sample sees one sample's width of signal, spread further by the tuner and the
// RTL2832's decimation filter: a Gaussian of this deviation, in samples. A sharp sample sees
// little more than its instant.
constexpr double kBandLimitedSigma = 0.35;
constexpr double kSharpSigma = 0.1;
constexpr float kNegligibleWeight = 1e-3f;

// The best preamble fit must correlate at least this well with the template, and its pulses
// must rise this far above their gaps, in units of the noise floor (mean noise magnitude).
constexpr float kMinCorrelation = 0.8f;
constexpr float kPulseToNoise = 1.5f;
constexpr float kPulseToGap = 2.0f;
// First test on raw samples: all four pulses visible above the noise floor.
constexpr float kPrefilterToNoise = 1.6f;
constexpr int kFormatBits = 8;

int readBits(const std::array<std::uint8_t, 112>& bits, int first, int count) {
    int v = 0;
    for (int k = 0; k < count; ++k) v = (v << 1) | bits[static_cast<std::size_t>(first + k)];
    return v;
}

// Share of a unit pulse over [a, b) seen by the sample at 0: the integral over [a, b) of a box
// `width` samples wide (normalised) smoothed by a Gaussian. F is an antiderivative of erf(x / c).
double apertureResponse(double a, double b, double width, double sigma) {
    const double c = sigma * std::sqrt(2.0);
    const auto F = [c](double x) {
        return x * std::erf(x / c) + c / std::sqrt(M_PI) * std::exp(-(x / c) * (x / c));
    };
    if (width <= 0.0) return 0.5 * (std::erf(b / c) - std::erf(a / c));
    const double h = width / 2.0;
    return 0.5 / width * (F(b + h) - F(a + h) - F(b - h) + F(a - h));
}

}  // namespace

const ADSBDecoder::FrameModels& ADSBDecoder::frameModels() {
    static const FrameModels models{buildFrameModel(1.0, kBandLimitedSigma),
                                    buildFrameModel(0.0, kSharpSigma)};
    return models;
}

ADSBDecoder::FrameModel ADSBDecoder::buildFrameModel(double boxWidth, double sigma) {
    FrameModel t{};
    for (int p = 0; p < kPhases; ++p) {
        PhaseModel& pm = t[static_cast<std::size_t>(p)];
        const double phase = -0.5 + static_cast<double>(p) / kPhasesPerSample;
        const auto chipStart = [phase](int k) { return phase + kSamplesPerChip * k; };
        for (std::size_t j = 0; j < kFrameReach; ++j) {
            SampleModel& sm = pm.samples[j];
            const double centre = static_cast<double>(j);
            // Chips near enough to matter, latest first.
            const int near = static_cast<int>((centre - phase) / kSamplesPerChip);
            std::array<float, kFrameChips> w{};
            int latest = -1;
            for (int k = std::max(0, near - 3); k <= std::min(kFrameChips - 1, near + 3); ++k) {
                const double h =
                    apertureResponse(chipStart(k) - centre, chipStart(k) + kSamplesPerChip - centre,
                                     boxWidth, sigma);
                w[static_cast<std::size_t>(k)] = static_cast<float>(h);
                if (h > kNegligibleWeight) latest = k;
            }
            if (latest < 0) continue;
            sm.bit = static_cast<std::int16_t>(latest < 16 ? -1 : (latest - 16) / 2);
            for (int pattern = 0; pattern < 8; ++pattern) {
                float e = 0.0f;
                for (int k = std::max(0, near - 3); k <= std::min(kFrameChips - 1, near + 3); ++k) {
                    const float wk = w[static_cast<std::size_t>(k)];
                    if (wk <= kNegligibleWeight) continue;
                    bool on = false;
                    if (k < 16) {
                        on = kPreambleChips[static_cast<std::size_t>(k)];
                    } else {
                        const int d = sm.bit - (k - 16) / 2;
                        if (d > 2) continue;  // too far back to matter
                        const bool one = ((pattern >> d) & 1) != 0;
                        on = one == ((k - 16) % 2 == 0);  // 1: pulse first; 0: pulse second
                    }
                    if (on) e += wk;
                }
                sm.expected[static_cast<std::size_t>(pattern)] = e;
            }
            if (sm.bit < 0 && j < kPreambleSamples) {
                pm.preamble[j] = sm.expected[0];
                pm.preambleSamples = j + 1;
            }
        }
        // Samples depend on ever later bits, so each bit's samples are one run.
        pm.bitStart.fill(0);
        std::array<bool, 113> seen{};
        for (std::size_t j = 0; j < kFrameReach; ++j) {
            const int bit = pm.samples[j].bit;
            if (bit < 0) continue;
            if (!seen[static_cast<std::size_t>(bit)]) {
                seen[static_cast<std::size_t>(bit)] = true;
                pm.bitStart[static_cast<std::size_t>(bit)] = static_cast<std::int16_t>(j);
            }
            pm.bitStart[112] = static_cast<std::int16_t>(j + 1);
        }
    }
    return t;
}

ADSBDecoder::ADSBDecoder() : models(frameModels()) {
    sampleWindow.reserve(kWindowCapacity);
    // Syndromes of every single-bit error; the DF bits are left out, so a repair never turns
    // another format into an extended squitter.
    for (int bit = 5; bit < 112; ++bit) {
        std::array<std::uint8_t, 112> e{};
        e[static_cast<std::size_t>(bit)] = 1;
        repairTable.emplace(syndrome(e), bit);
    }
    restart();
}

void ADSBDecoder::restart() {
    sampleWindow.clear();
    windowStart = streamEnd;
    searchPosition = streamEnd;
}

void ADSBDecoder::process(std::span<const IQSample> samples) {
    if (resetRequested.exchange(false, std::memory_order_relaxed)) restart();
    // Sub-chunks keep the window bounded (no allocation) whatever the caller's block size.
    for (std::size_t pos = 0; pos < samples.size(); pos += kMaxInputChunk) {
        const auto chunk = samples.subspan(pos, std::min(kMaxInputChunk, samples.size() - pos));
        assert(sampleWindow.size() + chunk.size() <= kWindowCapacity);
        const std::size_t from = sampleWindow.size();
        float largest = 0.0f;
        for (const IQSample& s : chunk) {
            const float m = std::sqrt(s.i * s.i + s.q * s.q);
            sampleWindow.push_back(m);
            largest = std::max(largest, m);
        }
        if (largest > maxMagnitude.load(std::memory_order_relaxed)) {
            maxMagnitude.store(largest, std::memory_order_relaxed);
        }
        updateNoiseFloor(from);
        search();
    }
}

void ADSBDecoder::updateNoiseFloor(std::size_t from) {
    // The floor is the quietest of the last 16 segment means: replies raise the mean of the
    // segments they fall in, but on a busy frequency some segment stays between them.
    for (std::size_t k = from; k < sampleWindow.size();) {
        const std::size_t run =
            std::min<std::size_t>(sampleWindow.size() - k, kSegment - streamEnd % kSegment);
        float sum = 0.0f;
        for (std::size_t r = 0; r < run; ++r) sum += sampleWindow[k + r];
        segmentSum += sum;
        k += run;
        streamEnd += run;
        if (streamEnd % kSegment != 0) continue;
        segmentMeans[segmentsDone % kSegmentsKept] = static_cast<float>(segmentSum / kSegment);
        const std::size_t n = std::min(segmentsDone + 1, kSegmentsKept);
        const float floor = *std::min_element(segmentMeans.begin(), segmentMeans.begin() + n);
        floorAfterSegment[segmentsDone % kSegmentsKept] = floor;
        noiseLevel.store(floor, std::memory_order_relaxed);
        ++segmentsDone;
        segmentSum = 0.0;
    }
}

float ADSBDecoder::noiseFloorAt(std::uint64_t sample) const {
    // Segments count from the start of the stream, so segment sample / kSegment - 1 is complete
    // and still remembered (the search lags the stream end by less than a block).
    const std::uint64_t segment = sample / kSegment;
    if (segment == 0 || segment > segmentsDone) return 0.0f;
    return floorAfterSegment[(segment - 1) % kSegmentsKept];
}

bool ADSBDecoder::mayHoldPreamble(const float* m, float noise) const {
    // Every timing from n - 0.5 to n + 1.5 puts most of each pulse into one of these pairs.
    const float floor = kPrefilterToNoise * noise;
    const float p0 = std::max(m[0], m[1]);
    if (!(p0 > floor)) return false;
    const float p2 = std::max(m[2], m[3]);
    const float p7 = std::max(m[7], m[8]);
    const float p9 = std::max(m[9], m[10]);
    const float weakest = std::min({p0, p2, p7, p9});
    // Samples 5 and 13 lie in gaps at every one of those timings.
    return weakest > floor && weakest > m[5] && weakest > m[13];
}

ADSBDecoder::PreambleFit ADSBDecoder::fitPreamble(const PhaseModel& pm, const float* m) {
    // Least-squares line m = gap + pulse * template over the preamble's samples.
    float se = 0.0f, see = 0.0f, sy = 0.0f, syy = 0.0f, sey = 0.0f;
    for (std::size_t j = 0; j < pm.preambleSamples; ++j) {
        const float e = pm.preamble[j];
        const float y = m[j];
        se += e;
        see += e * e;
        sy += y;
        syy += y * y;
        sey += e * y;
    }
    const auto n = static_cast<float>(pm.preambleSamples);
    const float cov = n * sey - se * sy;
    const float varE = n * see - se * se;
    const float varY = n * syy - sy * sy;
    PreambleFit fit;
    if (!(varE > 0.0f) || !(varY > 0.0f)) return fit;
    fit.correlation = cov / std::sqrt(varE * varY);
    fit.pulseLevel = cov / varE;
    fit.gapLevel = (sy - fit.pulseLevel * se) / n;
    return fit;
}

void ADSBDecoder::slice(const PhaseModel& pm, const float* m, const PreambleFit& fit, Slice& out,
                        int bitCount) {
    // Viterbi over the states (bit i-1, bit i); each sample is explained by the bits up to the
    // latest one it depends on, through the chip shares of this timing.
    std::array<float, 4> cost{};
    std::array<std::array<std::uint8_t, 4>, 112> from{};  // predecessor's older bit per state
    for (int i = 0; i < bitCount; ++i) {
        std::array<float, 8> branch{};
        for (int j = pm.bitStart[static_cast<std::size_t>(i)];
             j < pm.bitStart[static_cast<std::size_t>(i + 1)]; ++j) {
            const SampleModel& sm = pm.samples[static_cast<std::size_t>(j)];
            const float y = m[j] - fit.gapLevel;
            for (std::size_t pattern = 0; pattern < 8; ++pattern) {
                const float r = y - fit.pulseLevel * sm.expected[pattern];
                branch[pattern] += r * r;
            }
        }
        std::array<float, 4> next{};
        for (std::size_t state = 0; state < 4; ++state) {
            // state = (bit i-1, bit i); predecessors (0, bit i-1) and (1, bit i-1).
            const std::size_t older0 = (state >> 1);
            const std::size_t older1 = 2 | (state >> 1);
            const float c0 = cost[older0] + branch[(older0 << 1) | (state & 1)];
            const float c1 = cost[older1] + branch[(older1 << 1) | (state & 1)];
            from[static_cast<std::size_t>(i)][state] = c1 < c0 ? 1 : 0;
            next[state] = std::min(c0, c1);
        }
        cost = next;
    }
    std::size_t state =
        static_cast<std::size_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
    for (int i = bitCount - 1; i >= 0; --i) {
        out.bits[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(state & 1);
        state = (static_cast<std::size_t>(from[static_cast<std::size_t>(i)][state]) << 1) |
                (state >> 1);
    }
    out.df = readBits(out.bits, 0, 5);
}

std::uint32_t ADSBDecoder::syndrome(const std::array<std::uint8_t, 112>& bits) {
    std::uint32_t r = 0;
    for (std::size_t k = 0; k < 88; ++k) {
        const std::uint32_t top = ((r >> 23) & 1u) ^ bits[k];
        r = (r << 1) & 0xFFFFFFu;
        if (top) r ^= crcPoly;
    }
    std::uint32_t parity = 0;
    for (std::size_t k = 88; k < 112; ++k) parity = (parity << 1) | bits[k];
    return r ^ parity;
}

bool ADSBDecoder::tryRepair(Slice& s, std::uint64_t at) {
    if (s.df != 17 && s.df != 18) return false;
    const auto fix = repairTable.find(syndrome(s.bits));
    if (fix == repairTable.end()) return false;
    s.bits[static_cast<std::size_t>(fix->second)] ^= 1u;
    const auto address = static_cast<std::uint32_t>(readBits(s.bits, 8, 24));
    const auto known = knownAddresses.find(address);
    if (known != knownAddresses.end() && at - known->second <= kKnownAddressSamples) return true;
    s.bits[static_cast<std::size_t>(fix->second)] ^= 1u;
    return false;
}

void ADSBDecoder::deliver(const Slice& s, std::uint64_t at, float level, int corrected) {
    valid.fetch_add(1, std::memory_order_relaxed);
    const auto address = static_cast<std::uint32_t>(readBits(s.bits, 8, 24));
    if (corrected == 0) {
        knownAddresses[address] = at;
        if (knownAddresses.size() > 4'096) {
            std::erase_if(knownAddresses, [at](const auto& entry) {
                return at - entry.second > kKnownAddressSamples;
            });
        }
    } else {
        repaired.fetch_add(1, std::memory_order_relaxed);
    }
    if (!onMessage) return;
    onMessage(DecodedADSBMessage{
        .icao = formatString("%06X", address),
        .downlinkFormat = s.df,
        .typeCode = readBits(s.bits, 32, 5),
        .rawBits = s.bits,
        .sampleIndex = at,
        .signalLevel = level,
        .correctedBits = corrected,
    });
}

void ADSBDecoder::recordDF(int df) {
    dfRing[dfCount % kMaxDFsSeen] = df;
    ++dfCount;
}

std::vector<int> ADSBDecoder::lastDFsSeen() const {
    const std::size_t n = std::min(dfCount, kMaxDFsSeen);
    std::vector<int> out;
    out.reserve(n);
    for (std::size_t k = dfCount - n; k < dfCount; ++k) out.push_back(dfRing[k % kMaxDFsSeen]);
    return out;
}

int ADSBDecoder::tryTimings(const FrameModel& model, const float* m, int best,
                            const PreambleFit& fit) {
    // The best-fitting timing first, then its neighbours an eighth of a sample apart.
    constexpr std::array<int, 9> kTries{0, 1, -1, 2, -2, 3, -3, 4, -4};
    Slice s;
    for (int d : kTries) {
        const int phase = best + d;
        if (phase < 0 || phase >= kPhases) continue;
        const PhaseModel& pm = model[static_cast<std::size_t>(phase)];
        const PreambleFit f = d == 0 ? fit : fitPreamble(pm, m);
        // The downlink format first: the decisions on the first five bits are settled a few
        // bits later, and most timings of a false candidate stop here.
        slice(pm, m, f, s, kFormatBits);
        if (firstDF >= 0 && s.df != 17 && s.df != 18) continue;
        slice(pm, m, f, s, 112);
        if (firstDF < 0) {
            firstDF = s.df;
            firstSlice = s;
            firstLevel = fit.pulseLevel + fit.gapLevel;
            firstPhase = phase;
        }
        if ((s.df == 17 || s.df == 18) && syndrome(s.bits) == 0) {
            recordDF(s.df);
            longFormats.fetch_add(1, std::memory_order_relaxed);
            deliver(s, searchPosition, fit.pulseLevel + fit.gapLevel, 0);
            return phase;
        }
    }
    return -1;
}

void ADSBDecoder::search() {
    while (searchPosition + kFrameReach <= streamEnd) {
        const float* m = sampleWindow.data() + (searchPosition - windowStart);
        const float noise = noiseFloorAt(searchPosition);
        if (!mayHoldPreamble(m, noise)) {
            ++searchPosition;
            continue;
        }
        firstDF = -1;
        bool counted = false;
        int deliveredPhase = -1;
        bool bestInside = true;
        for (const FrameModel& model : models) {
            int best = 0;
            PreambleFit fit = fitPreamble(model[0], m);
            for (int p = 1; p < kPhases; ++p) {
                const PreambleFit f = fitPreamble(model[static_cast<std::size_t>(p)], m);
                if (f.correlation > fit.correlation) {
                    fit = f;
                    best = p;
                }
            }
            if (!(fit.correlation >= kMinCorrelation && fit.pulseLevel > kPulseToNoise * noise &&
                  fit.pulseLevel > kPulseToGap * fit.gapLevel)) {
                continue;
            }
            if (!counted) {
                counted = true;
                bestInside = best < kPhases - 1;
                candidates.fetch_add(1, std::memory_order_relaxed);
            }
            deliveredPhase = tryTimings(model, m, best, fit);
            if (deliveredPhase >= 0) break;
        }
        bool delivered = deliveredPhase >= 0;
        if (counted && !delivered) {
            recordDF(firstDF);
            if (firstDF == 17 || firstDF == 18) {
                longFormats.fetch_add(1, std::memory_order_relaxed);
                if (tryRepair(firstSlice, searchPosition)) {
                    deliver(firstSlice, searchPosition, firstLevel, 1);
                    delivered = true;
                    deliveredPhase = firstPhase;
                }
            }
        }
        // A delivered frame holds no preamble worth searching. After a failure the next search
        // starts past the timings just examined, so one reply is one candidate; but when the
        // best timing lay at the end of the span the fit was still improving, so the next
        // sample is searched as usual.
        if (delivered) {
            // Past the last chip (the frame began at n - 0.5 + phase / 8).
            const double end = -0.5 + static_cast<double>(deliveredPhase) / kPhasesPerSample +
                               kFrameChips * kSamplesPerChip;
            searchPosition += static_cast<std::uint64_t>(std::ceil(end));
        } else {
            searchPosition += counted && bestInside ? 2 : 1;
        }
    }
    // Keep from the next search sample on.
    const std::uint64_t keepFrom = std::min(searchPosition, streamEnd);
    const auto drop = static_cast<std::ptrdiff_t>(keepFrom - windowStart);
    sampleWindow.erase(sampleWindow.begin(), sampleWindow.begin() + drop);
    windowStart = keepFrom;
}
