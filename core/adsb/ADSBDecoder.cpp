#include "adsb/ADSBDecoder.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "platform/DebugLog.h"

namespace {

// Frame span beyond the first chip, and a margin for the run and the timing refinement.
constexpr std::size_t kWindowCapacity = 4096 + 512;

int readBits(const std::array<std::uint8_t, 112>& bits, int first, int count) {
    int v = 0;
    for (int k = 0; k < count; ++k) v = (v << 1) | bits[static_cast<std::size_t>(first + k)];
    return v;
}

// Index of the sample nearest to a position given in 1/125 samples.
inline std::uint64_t nearestSample(std::uint64_t units) { return (units + 62) / 125; }

}  // namespace

ADSBDecoder::ADSBDecoder() {
    sampleWindow.reserve(kWindowCapacity);
    restart();
}

void ADSBDecoder::restart() {
    sampleWindow.clear();
    windowStart = 0;
    searchPosition = kPhases;  // sample 1: position 0 would start before the stream
}

void ADSBDecoder::process(std::span<const IQSample> samples) {
    if (resetRequested.exchange(false, std::memory_order_relaxed)) restart();
    // Sub-chunks keep the window bounded (no allocation) whatever the caller's block size.
    for (std::size_t pos = 0; pos < samples.size(); pos += kMaxInputChunk) {
        const auto chunk = samples.subspan(pos, std::min(kMaxInputChunk, samples.size() - pos));
        assert(sampleWindow.size() + chunk.size() <= kWindowCapacity);
        float largest = 0.0f;
        for (const IQSample& s : chunk) {
            const float m = std::sqrt(s.i * s.i + s.q * s.q);
            sampleWindow.push_back(m);
            largest = std::max(largest, m);
        }
        if (largest > maxMagnitude.load(std::memory_order_relaxed)) {
            maxMagnitude.store(largest, std::memory_order_relaxed);
        }
        search();
    }
}

float ADSBDecoder::chip(std::uint64_t units) const {
    return sampleWindow[static_cast<std::size_t>(nearestSample(units) - windowStart)];
}

bool ADSBDecoder::preambleAccepted(std::span<const float, 16> s) {
    const float high = std::min({s[0], s[2], s[7], s[9]});
    const float low = std::max({s[1], s[3], s[4], s[5], s[6], s[8], s[10], s[11], s[12], s[13],
                                s[14], s[15]});
    return high > 1.5f * low && high > kMinPulseLevel;
}

bool ADSBDecoder::preambleAt(std::uint64_t units) const {
    // The same test as preambleAccepted, chip by chip: the weakest pulse so far only falls and the
    // strongest gap only rises, so the first violation decides. Noise fails within a few chips.
    constexpr std::array<std::uint8_t, 16> kOrder{0, 1, 2, 3, 7, 4, 9, 5, 6, 8, 10, 11, 12, 13, 14, 15};
    constexpr std::uint32_t kPulseMask = (1u << 0) | (1u << 2) | (1u << 7) | (1u << 9);
    float high = 1e30f;
    float low = 0.0f;
    for (std::uint8_t k : kOrder) {
        const float v = chip(units + kChipUnits * k);
        if ((kPulseMask >> k) & 1u) {
            high = std::min(high, v);
            if (!(high > kMinPulseLevel)) return false;
        } else {
            low = std::max(low, v);
        }
        if (!(high > 1.5f * low)) return false;
    }
    return true;
}

bool ADSBDecoder::sampleMayHoldPreamble(std::size_t local) const {
    // For every start position whose first chip reads sample n, chip k reads sample n + a_k or
    // n + b_k. If even the larger candidate of each pulse cannot beat 1.5 times the smaller
    // candidate of each gap, no such position passes the preamble test.
    constexpr std::array<std::uint8_t, 16> kOrder{0, 1, 2, 3, 7, 4, 9, 5, 6, 8, 10, 11, 12, 13, 14, 15};
    constexpr std::uint32_t kPulseMask = (1u << 0) | (1u << 2) | (1u << 7) | (1u << 9);
    const float* m = sampleWindow.data() + local;
    float high = 1e30f;
    float low = 0.0f;
    for (std::uint8_t k : kOrder) {
        const std::size_t a = (kChipUnits * k) / 125;       // r = -62
        const std::size_t b = (kChipUnits * k + 124) / 125; // r = +62
        if ((kPulseMask >> k) & 1u) {
            high = std::min(high, std::max(m[a], m[b]));
            if (!(high > kMinPulseLevel)) return false;
        } else {
            low = std::max(low, std::min(m[a], m[b]));
        }
        if (!(high > 1.5f * low)) return false;
    }
    return true;
}

float ADSBDecoder::preambleCorrelation(std::uint64_t units) const {
    // Linear interpolation varies smoothly with the timing, unlike the nearest sample, so this
    // peaks near the true timing: pulse chips count in full, the twelve gaps a third each.
    constexpr std::array<bool, 16> kPulse{true, false, true, false, false, false, false, true,
                                          false, true, false, false, false, false, false, false};
    float sum = 0.0f;
    for (std::size_t k = 0; k < 16; ++k) {
        const std::uint64_t at = units + kChipUnits * k;
        const auto n = static_cast<std::size_t>(at / 125 - windowStart);
        const float f = static_cast<float>(at % 125) * (1.0f / 125.0f);
        const float v = sampleWindow[n] + (sampleWindow[n + 1] - sampleWindow[n]) * f;
        sum += kPulse[k] ? v : -v * (1.0f / 3.0f);
    }
    return sum;
}

std::uint64_t ADSBDecoder::bestTimingOffset(std::uint64_t lo, std::uint64_t hi) const {
    std::uint64_t best = (hi - lo) / 2;
    float bestScore = -1e30f;
    for (std::uint64_t at = lo; at <= hi; at += 4) {
        const float score = preambleCorrelation(at);
        if (score > bestScore) {
            bestScore = score;
            best = at - lo;
        }
    }
    return best;
}

bool ADSBDecoder::sliceAt(std::uint64_t units, std::array<std::uint8_t, 112>& bits,
                          int& df) const {
    // Bit k: pulse in the first chip (1) or the second chip (0) of its microsecond.
    const std::uint64_t data = units + 16 * kChipUnits;
    const auto slice = [&](std::size_t k) {
        const std::uint64_t at = data + 2 * kChipUnits * k;
        bits[k] = chip(at) > chip(at + kChipUnits) ? 1 : 0;
    };
    for (std::size_t k = 0; k < 5; ++k) slice(k);
    df = readBits(bits, 0, 5);
    if (df != 17 && df != 18) return false;
    for (std::size_t k = 5; k < 112; ++k) slice(k);
    return true;
}

bool ADSBDecoder::parityMatches(const std::array<std::uint8_t, 112>& bits) {
    std::array<std::uint32_t, 14> bytes{};
    for (std::size_t k = 0; k < 112; ++k) bytes[k / 8] = (bytes[k / 8] << 1) | bits[k];
    std::uint32_t r = 0;
    for (std::size_t n = 0; n < 11; ++n) {
        r ^= bytes[n] << 16;
        for (int b = 0; b < 8; ++b) {
            r = (r & 0x800000u) ? ((r << 1) ^ crcPoly) & 0xFFFFFFu : (r << 1) & 0xFFFFFFu;
        }
    }
    return r == ((bytes[11] << 16) | (bytes[12] << 8) | bytes[13]);
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

// Chip k's nearest sample changes where units + 128k + 62 is a multiple of 125, i.e. at
// units = 125n + 63 - 3k. Relative to 125n, chip 0 reads sample n for r in [-62, 62] and the other
// fifteen chips switch at r = 60, 57, ..., 18: intervals [-62, 18), [18, 21), ..., [60, 63).
std::uint64_t ADSBDecoder::positionUnits(std::uint64_t q) {
    const std::uint64_t n = q / kPhases;
    const std::uint64_t j = q % kPhases;
    return j == 0 ? 125 * n - 62 : 125 * n + 18 + 3 * (j - 1);
}

std::uint64_t ADSBDecoder::firstPositionAtOrAfter(std::uint64_t units) {
    const std::uint64_t n = nearestSample(units);
    const std::int64_t r = static_cast<std::int64_t>(units) - static_cast<std::int64_t>(125 * n);
    if (r == -62) return kPhases * n;
    if (r <= 18) return kPhases * n + 1;
    const auto j = static_cast<std::uint64_t>((r - 18 + 2) / 3) + 1;  // first 18 + 3(j-1) >= r
    return j < kPhases ? kPhases * n + j : kPhases * (n + 1);
}

void ADSBDecoder::search() {
    const std::uint64_t inputEnd = windowStart + sampleWindow.size();
    // Last sample a start position may read: the run, the refinement and the frame's last chip.
    const auto lastSampleFor = [](std::uint64_t q) {
        return nearestSample(positionUnits(q + kRunLimit + 1) + kChipUnits * (kFrameChips - 1));
    };
    std::array<std::uint8_t, 112> bits;
    while (lastSampleFor(searchPosition) < inputEnd) {
        const std::uint64_t x = positionUnits(searchPosition);
        const std::uint64_t n = searchPosition / kPhases;
        if (!sampleMayHoldPreamble(static_cast<std::size_t>(n - windowStart))) {
            searchPosition = kPhases * (n + 1);
            continue;
        }
        if (!preambleAt(x)) {
            ++searchPosition;
            continue;
        }
        int runLength = 1;
        bool endedOnFailure = false;
        while (runLength < kRunLimit) {
            if (!preambleAt(positionUnits(searchPosition + static_cast<std::uint64_t>(runLength)))) {
                endedOnFailure = true;
                break;
            }
            ++runLength;
        }
        candidates.fetch_add(1, std::memory_order_relaxed);

        // Slice at every distinct timing across the run (and a little beyond: the true timing
        // often sits at its edge), its middle first. Where the sampling falls near chip edges the
        // chips must be read at the right sample to about 0.01 sample.
        const std::uint64_t lo = x - kRefineMarginUnits;
        const std::uint64_t hi = positionUnits(searchPosition + static_cast<std::uint64_t>(runLength)) - 1 +
                                 kRefineMarginUnits;
        const std::uint64_t steps = hi - lo;
        const std::uint64_t middle = bestTimingOffset(lo, hi);
        int recordedDF = -1;
        bool delivered = false;
        for (std::uint64_t k = 0; k <= 2 * steps && !delivered; ++k) {
            // best, best+1, best-1, best+2, ...
            const std::uint64_t step = (k % 2 == 1) ? middle + (k + 1) / 2 : middle - k / 2;
            if (step > steps || (k % 2 == 0 && k / 2 > middle)) continue;
            const std::uint64_t at = lo + step;
            int df = 0;
            const bool isLong = sliceAt(at, bits, df);
            if (k == 0) recordedDF = df;
            if (!isLong || !parityMatches(bits)) continue;
            recordedDF = df;
            delivered = true;
            valid.fetch_add(1, std::memory_order_relaxed);
            DecodedADSBMessage message{
                .icao = formatString("%06X", static_cast<unsigned>(readBits(bits, 8, 24))),
                .downlinkFormat = df,
                .typeCode = readBits(bits, 32, 5),
                .rawBits = bits,
            };
            // The rest of this frame is not searched for preambles.
            searchPosition = firstPositionAtOrAfter(at + kChipUnits * kFrameChips);
            if (onMessage) onMessage(message);
        }
        recordDF(recordedDF);
        if (recordedDF == 17 || recordedDF == 18) longFormats.fetch_add(1, std::memory_order_relaxed);
        if (!delivered) {
            searchPosition += static_cast<std::uint64_t>(runLength + (endedOnFailure ? 1 : 0));
        }
    }
    // Keep from the earliest sample the next start position can read.
    const std::uint64_t needed = searchPosition / kPhases - 1;
    const std::uint64_t keepFrom = std::max(windowStart, std::min(needed, inputEnd));
    const auto drop = static_cast<std::ptrdiff_t>(keepFrom - windowStart);
    sampleWindow.erase(sampleWindow.begin(), sampleWindow.begin() + drop);
    windowStart = keepFrom;
}
