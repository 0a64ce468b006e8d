#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "device/IQSample.h"

// Which channel the detectors should see. Edges (one-sided, around 0 Hz):
//   wideFM    pass ±125 kHz, ≥ 60 dB down from ±200 kHz (the broadcast channel raster)
//   narrowFM  pass ±7.5 kHz, ≥ 60 dB down from ±12.5 kHz (the next NBFM channel)
//   am        pass ±5 kHz,   ≥ 60 dB down from ±10 kHz (the next AM channel)
enum class ChannelFilterMode { wideFM, narrowFM, am };

// Complex low-pass in front of the FM discriminator and the AM envelope detector, so that
// they see the tuned channel (already shifted to 0 Hz) instead of the whole band. Input and
// output at the same rate, 2,048,000 samples/s in the receiver.
//
// Real, symmetric Kaiser-windowed-sinc taps (designed for 70 dB, transition from the pass
// edge to the stop edge) applied to I and Q alike by overlap-save fast convolution with
// single-precision FFTW. The narrow modes need about 1,800 taps at 2.048 MS/s, hence the FFT.
//
// Streaming contract: each call returns exactly as many samples as it is given. Output
// sample n is the filtered input centred on sample n - latencySamples(): the taps' group
// delay (M - 1) / 2 plus one FFT hop of buffering. The latency is fixed per mode and the FFT
// frames sit at fixed positions of the stream, so the output is bit-identical however the
// input is cut. The first latencySamples() outputs after construction, reset() or a mode
// change are the response to the zeros before the stream.
//
// One filter per mode is designed at construction, so setMode() never allocates or plans.
// Thread safety: one caller at a time (the processing thread, setMode() included).
// Construction and destruction take the process-wide FFTW planner lock.
class ChannelFilter {
public:
    // sampleRateHz must exceed twice the wide-FM stop edge (400 kHz).
    explicit ChannelFilter(ChannelFilterMode mode, double sampleRateHz = 2'048'000.0);
    ~ChannelFilter();
    ChannelFilter(const ChannelFilter&) = delete;
    ChannelFilter& operator=(const ChannelFilter&) = delete;

    // Switching clears the new mode's history: its output restarts as after reset().
    // Setting the current mode again changes nothing.
    void setMode(ChannelFilterMode newMode);
    ChannelFilterMode mode() const { return current; }

    // out.size() == in.size(). `out` may be the same buffer as `in` (not a shifted overlap).
    void process(std::span<const IQSample> in, std::span<IQSample> out);
    std::vector<IQSample> process(std::span<const IQSample> in);

    // Clears the history; the mode stays.
    void reset();

    // Edges of the current mode, one-sided, in Hz.
    double passbandHz() const;
    double stopbandHz() const;
    // Delay from input to output of the current mode, in samples.
    std::size_t latencySamples() const;
    // The current mode's taps (odd count, unity gain at 0 Hz).
    std::span<const float> taps() const;

private:
    class OverlapSave;

    static constexpr std::size_t kModeCount = 3;

    OverlapSave& active() const;

    ChannelFilterMode current;
    std::array<std::unique_ptr<OverlapSave>, kModeCount> filters;  // indexed by mode
};
