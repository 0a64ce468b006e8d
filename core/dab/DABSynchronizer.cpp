#include "dab/DABSynchronizer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dab/DABModeI.h"

namespace {

constexpr float kPowerFloor = 1e-15f;
constexpr float kLockDepthDB = 8.0f;
// A null symbol plus four OFDM symbols: anything shorter cannot frame a null.
constexpr std::size_t kMinNullBlock = dabmode::kNull + 4 * dabmode::kSymbol;

float power(const IQSample& x) { return x.i * x.i + x.q * x.q; }

}  // namespace

std::optional<DABSynchronizer::LockInfo> DABSynchronizer::findNull(std::span<const IQSample> in) const {
    if (in.size() <= kMinNullBlock) return std::nullopt;
    constexpr std::size_t window = dabmode::kNull;
    // Double accumulators: a running float sum would drift over 200,000 samples.
    double total = 0.0;
    for (const IQSample& x : in) total += power(x);
    double sum = 0.0;
    for (std::size_t n = 0; n < window; ++n) sum += power(in[n]);
    double best = sum;
    std::size_t bestStart = 0;
    for (std::size_t start = 1; start + window <= in.size(); ++start) {
        sum += static_cast<double>(power(in[start + window - 1])) - power(in[start - 1]);
        if (sum < best) {
            best = sum;
            bestStart = start;
        }
    }
    const float avgPower = static_cast<float>(total / static_cast<double>(in.size()));
    const float nullPower = static_cast<float>(std::max(best, 0.0) / window);

    const std::size_t prsBegin = std::min(bestStart + window, in.size());
    const std::size_t prsEnd = std::min(bestStart + window + dabmode::kSymbol, in.size());
    float prsPower = avgPower;
    if (prsEnd > prsBegin) {
        double prsSum = 0.0;
        for (std::size_t n = prsBegin; n < prsEnd; ++n) prsSum += power(in[n]);
        prsPower = static_cast<float>(prsSum / static_cast<double>(prsEnd - prsBegin));
    }
    const float floorNull = std::max(nullPower, kPowerFloor);
    const float depthA = 10.0f * std::log10(std::max(avgPower, kPowerFloor) / floorNull);
    const float depthB = 10.0f * std::log10(std::max(prsPower, kPowerFloor) / floorNull);
    const float depth = std::max(depthA, depthB);
    return LockInfo{.nullIndex = static_cast<int>(bestStart), .nullPower = nullPower,
                    .avgPower = avgPower, .nullDepthDB = depth, .locked = depth > kLockDepthDB};
}

std::optional<DABSynchronizer::FreqLockInfo> DABSynchronizer::estimateFrequencyOffset(
    std::span<const IQSample> samples, int near, int search) const {
    const long long count = static_cast<long long>(samples.size());
    const long long first = std::max(0LL, static_cast<long long>(near) - search);
    const long long last = std::min(static_cast<long long>(near) + search,
                                    count - (dabmode::kSymbol + 1));
    if (first >= last) return std::nullopt;

    FreqLockInfo best;
    float bestRho = -1.0f;
    for (long long s = first; s <= last; ++s) {
        const IQSample* a = samples.data() + s;
        const IQSample* b = a + dabmode::kFFTSize;
        float pRe = 0.0f, pIm = 0.0f, e1 = 0.0f, e2 = 0.0f;
        for (int k = 0; k < dabmode::kGuard; ++k) {
            // a · conj(b)
            pRe += a[k].i * b[k].i + a[k].q * b[k].q;
            pIm += a[k].q * b[k].i - a[k].i * b[k].q;
            e1 += power(a[k]);
            e2 += power(b[k]);
        }
        const float rho = std::hypot(pRe, pIm) /
                          std::sqrt(std::max(static_cast<double>(e1) * e2, 1e-20));
        if (rho > bestRho) {
            bestRho = rho;
            // The guard repeats the symbol's tail 2048 samples later; a carrier offset turns
            // that repeat by 2π·offset·2048/fs, so the phase reads the offset modulo 1 kHz.
            best = FreqLockInfo{
                .offsetHz = -std::atan2(static_cast<double>(pIm), static_cast<double>(pRe)) *
                            dabmode::kSampleRateHz / (2.0 * std::numbers::pi * dabmode::kFFTSize),
                .correlation = rho,
                .lagSamples = static_cast<int>(s - near),
                .symbolStart = static_cast<int>(s)};
        }
    }
    return best;
}
