#include "dsp/Decimator.h"

#include <algorithm>
#include <cassert>

#include "dsp/FIRTaps.h"

Decimator::Decimator([[maybe_unused]] int factor, double inputRate)
    : stage1(FIRTaps::lowpass({.sampleRate = inputRate, .cutoffHz = 100'000.0, .numTaps = 129}),
             kStage1Factor),
      stage2(
          FIRTaps::lowpass({.sampleRate = inputRate * 0.125, .cutoffHz = 15'000.0, .numTaps = 129}),
          kStage2Factor),
      intermediate(kPieceSamples / kStage1Factor + 1) {}

std::size_t Decimator::outputCount(std::size_t inputCount) const {
    return stage2.outputCount(stage1.outputCount(inputCount));
}

std::vector<float> Decimator::process(std::span<const float> in) {
    std::vector<float> out(outputCount(in.size()));
    process(in, out);
    return out;
}

std::size_t Decimator::process(std::span<const float> in, std::span<float> out) {
    const std::size_t count = outputCount(in.size());
    assert(out.size() >= count);
    std::size_t written = 0;
    for (std::size_t start = 0; start < in.size(); start += kPieceSamples) {
        const auto piece = in.subspan(start, std::min(kPieceSamples, in.size() - start));
        // from here on: input rate / 8
        const std::size_t mid = stage1.process(piece, intermediate);
        // from here on: input rate / 40
        written +=
            stage2.process(std::span<const float>(intermediate.data(), mid), out.subspan(written));
    }
    return written;
}

void Decimator::reset() {
    stage1.reset();
    stage2.reset();
}
