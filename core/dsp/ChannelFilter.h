#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "device/IQSample.h"

// Which channel the detectors should see. Edges (one-sided, around 0 Hz):
//   wideFM    pass ±110 kHz, ≥ 60 dB down from ±146 kHz: 75 kHz deviation of a multiplex up
//             to 60 kHz (Carson: ±135 kHz) in a 256 kHz output whose aliases of the stop
//             edge land on the pass edge; the next broadcast channel (±200 kHz) is gone
//   narrowFM  pass ±7.5 kHz, ≥ 60 dB down from ±12.5 kHz (the next NBFM channel)
//   am        pass ±5 kHz,   ≥ 60 dB down from ±10 kHz (the next AM channel)
enum class ChannelFilterMode { wideFM, narrowFM, am };

struct ChannelFilterConfig {
    double inputRateHz = 2'048'000.0;
    // Output rate = inputRateHz / decimation; at least the wide-FM pass plus stop edge
    // (256 kHz), so nothing folds into the channel.
    int decimation = 8;
};

// Complex low-pass and decimator in front of the FM discriminator and the AM envelope
// detector, so that they see the tuned channel (already shifted to 0 Hz) instead of the whole
// band, at a rate that fits it: 2,048,000 samples/s in, 256,000 out in the receiver.
//
// Real, symmetric Kaiser-windowed-sinc taps (70 dB) applied to I and Q alike by overlap-save
// fast convolution with single-precision FFTW. The decimation happens in the frequency
// domain: the filtered spectrum is folded into N / decimation bins and a short inverse FFT
// gives only the kept samples. The narrow modes need about 1,800 taps, hence the FFT.
//
// Streaming contract: the output keeps every decimation-th sample of the filtered stream on a
// grid fixed from construction: output k is the filtered input centred on input sample
// decimation × k − latencySamples(). The FFT frames sit at fixed positions of the stream, so
// the output is bit-identical however the input is cut. The first outputs after
// construction, reset() or a mode change are the response to the zeros before the stream.
//
// One filter per mode is designed at construction, so setMode() never allocates or plans.
// Thread safety: one caller at a time (the processing thread, setMode() included).
// Construction and destruction take the process-wide FFTW planner lock.
class ChannelFilter {
public:
    explicit ChannelFilter(ChannelFilterMode mode, const ChannelFilterConfig& config = {});
    ~ChannelFilter();
    ChannelFilter(const ChannelFilter&) = delete;
    ChannelFilter& operator=(const ChannelFilter&) = delete;

    // Switching clears the new mode's history: its output restarts as after reset().
    // Setting the current mode again changes nothing.
    void setMode(ChannelFilterMode newMode);
    ChannelFilterMode mode() const { return current; }

    // out must hold outputCount(in.size()) samples; returns that count. `out` may be the
    // same buffer as `in` (not a shifted overlap).
    std::size_t process(std::span<const IQSample> in, std::span<IQSample> out);
    std::vector<IQSample> process(std::span<const IQSample> in);
    // Exact number of samples the next process() of `inputCount` samples writes.
    std::size_t outputCount(std::size_t inputCount) const;

    // Clears the history; the mode stays.
    void reset();

    double outputRateHz() const { return inputRateHz / static_cast<double>(decimation); }
    int decimationFactor() const { return decimation; }
    // Edges of the current mode, one-sided, in Hz.
    double passbandHz() const;
    double stopbandHz() const;
    // Delay from input to output of the current mode, in input samples (a multiple of the
    // decimation).
    std::size_t latencySamples() const;
    // The current mode's taps at the input rate (odd count, unity gain at 0 Hz).
    std::span<const float> taps() const;

private:
    class OverlapSave;

    static constexpr std::size_t kModeCount = 3;

    OverlapSave& active() const;

    const double inputRateHz;
    const int decimation;
    ChannelFilterMode current;
    std::array<std::unique_ptr<OverlapSave>, kModeCount> filters;  // indexed by mode
};
