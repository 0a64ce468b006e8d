#pragma once

#include <cstddef>
#include <span>
#include <vector>

// Block-streaming FIR low-pass with integer decimation. Output sample k of the full-rate
// filter is y[k] = sum_j e[k + j] * taps[j] over the input extended by the previous block's
// last M - 1 samples; only every `factor`-th y is kept, on a grid carried across blocks, so
// the output does not depend on how the input is cut. Only the kept outputs are computed.
// Real float samples; one caller at a time.
class StreamingFIRDecimator {
public:
    // factor < 1 behaves as 1. No taps gives a filter that outputs zeros.
    StreamingFIRDecimator(std::vector<float> taps, int factor);
    StreamingFIRDecimator(const StreamingFIRDecimator&) = delete;
    StreamingFIRDecimator& operator=(const StreamingFIRDecimator&) = delete;

    // Returns the kept outputs of this block (about in.size() / factor of them).
    std::vector<float> process(std::span<const float> in);
    // Allocation-free form: out must hold outputCount(in.size()) values; returns that count.
    std::size_t process(std::span<const float> in, std::span<float> out);

    // Exact number of outputs the next process() of `inputCount` samples will produce.
    std::size_t outputCount(std::size_t inputCount) const;
    void reset();

    // Index, within the next block, of the next full-rate output to keep.
    int pendingPhase() const { return phase; }
    int decimationFactor() const { return factor; }
    const std::vector<float>& coefficients() const { return taps; }

private:
    // Largest piece of input filtered in one pass; bounds the scratch part of `history`.
    static constexpr std::size_t kPieceSamples = 8192;

    void processPiece(const float* in, std::size_t n, float*& out);

    const std::vector<float> taps;
    const int factor;
    const std::size_t historyLength;  // M - 1 (0 for M < 2)
    // First historyLength entries: the last M - 1 input samples (zeros at start). The rest
    // is scratch that holds the current piece of input right behind them.
    std::vector<float> history;
    int phase = 0;
};
