#include "dsp/StreamingFIRDecimator.h"

#include <algorithm>
#include <cassert>

namespace {

// Dot product over eight independent partial sums so that -O2 can keep it in vector
// registers (a single running float sum may not be reordered by the compiler). The result
// differs from the sequential sum only by float rounding.
inline float dot(const float* x, const float* h, std::size_t n) {
    constexpr std::size_t kLanes = 8;
    float acc[kLanes] = {};
    std::size_t j = 0;
    for (; j + kLanes <= n; j += kLanes)
        for (std::size_t l = 0; l < kLanes; ++l) acc[l] += x[j + l] * h[j + l];
    float tail = 0.0f;
    for (; j < n; ++j) tail += x[j] * h[j];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7])) + tail;
}

}  // namespace

StreamingFIRDecimator::StreamingFIRDecimator(std::vector<float> initialTaps, int requestedFactor)
    : taps(std::move(initialTaps)),
      factor(std::max(requestedFactor, 1)),
      historyLength(taps.empty() ? 0 : taps.size() - 1),
      history(historyLength + kPieceSamples, 0.0f) {}

std::size_t StreamingFIRDecimator::outputCount(std::size_t inputCount) const {
    const auto p = static_cast<std::size_t>(phase);
    if (p >= inputCount) return 0;
    return (inputCount - 1 - p) / static_cast<std::size_t>(factor) + 1;
}

std::vector<float> StreamingFIRDecimator::process(std::span<const float> in) {
    std::vector<float> out(outputCount(in.size()));
    process(in, out);
    return out;
}

std::size_t StreamingFIRDecimator::process(std::span<const float> in, std::span<float> out) {
    const std::size_t count = outputCount(in.size());
    assert(out.size() >= count);
    float* dst = out.data();
    for (std::size_t start = 0; start < in.size(); start += kPieceSamples) {
        const std::size_t n = std::min(kPieceSamples, in.size() - start);
        processPiece(in.data() + start, n, dst);
    }
    return count;
}

void StreamingFIRDecimator::processPiece(const float* in, std::size_t n, float*& out) {
    // e = history followed by the piece; y[k] uses e[k .. k + M - 1].
    float* e = history.data();
    std::copy(in, in + n, e + historyLength);

    const std::size_t m = taps.size();
    const auto step = static_cast<std::size_t>(factor);
    auto k = static_cast<std::size_t>(phase);
    if (k >= n) {
        phase -= static_cast<int>(n);
    } else {
        for (; k < n; k += step) *out++ = dot(e + k, taps.data(), m);
        phase = static_cast<int>(k - n);  // last kept index + factor - n
    }

    std::copy(e + n, e + n + historyLength, e);
}

void StreamingFIRDecimator::reset() {
    std::fill(history.begin(), history.end(), 0.0f);
    phase = 0;
}
