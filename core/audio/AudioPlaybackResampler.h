#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct AudioPlaybackResamplerConfig {
    double inputRateHz = 51'200.0;
    double outputRateHz = 48'000.0;
    bool operator==(const AudioPlaybackResamplerConfig&) const = default;
};

// Stereo band-limited resampler from inputRateHz to outputRateHz, driven by the output side:
// the caller asks for a number of frames and hands over exactly the input they need, so a
// sound device's render callback gets the frames it asked for and nothing more is buffered.
//
// The kernel is a 64-tap Kaiser-windowed sinc (β 7.86, about 80 dB stopband) tabulated in 256
// fractional phases, with linear interpolation between neighbouring phases. Upsampling and
// 1:1 keep the whole input band (at a fractional position of 0 the kernel is a unit impulse,
// so 1:1 passes samples through untouched); downsampling puts the stopband edge at the output
// Nyquist frequency: 51,200 to 48,000 Hz is flat to about 20 kHz.
//
// The ratio may be trimmed per call (setRateCorrection) for clock drift; positions are kept
// in 32.32 fixed point, so what inputNeeded promises is exactly what process consumes and the
// output does not depend on how the frames are cut into calls. Output lags input by
// kDelaySamples input samples. Both channels use the same positions and coefficients.
//
// Allocates only in the constructor. One caller at a time.
class AudioPlaybackResampler {
public:
    static constexpr std::size_t kTaps = 64;
    static constexpr std::size_t kPhases = 256;
    // The window is centred kTaps / 2 samples behind the newest input, and an input sample
    // enters the window after the frame that reached it.
    static constexpr std::size_t kDelaySamples = kTaps / 2 + 1;

    // Rates must be positive and finite (asserted).
    explicit AudioPlaybackResampler(AudioPlaybackResamplerConfig config);
    AudioPlaybackResampler(const AudioPlaybackResampler&) = delete;
    AudioPlaybackResampler& operator=(const AudioPlaybackResampler&) = delete;

    const AudioPlaybackResamplerConfig& config() const { return cfg; }
    // Input samples per output frame at the nominal rates.
    double nominalStep() const { return nominal; }
    // The following frames advance by nominalStep() × (1 + fraction) input samples each.
    void setRateCorrection(double fraction);

    // Input samples the next `frames` frames take.
    std::size_t inputNeeded(std::size_t frames) const;
    // The most frames whose input fits into `inputSamples`.
    std::size_t framesFrom(std::size_t inputSamples) const;

    // Writes outLeft.size() frames (outRight the same size) and takes exactly
    // inputNeeded(outLeft.size()) samples from the front of each input, which must hold them.
    void process(std::span<const float> inLeft, std::span<const float> inRight,
                 std::span<float> outLeft, std::span<float> outRight);

    void reset();

private:
    static constexpr std::uint64_t kOne = std::uint64_t{1} << 32;  // 1 input sample, 32.32

    void take(float left, float right);

    AudioPlaybackResamplerConfig cfg;
    double nominal;
    // (kPhases + 1) rows of kTaps; row p is for the fractional position p / kPhases.
    std::vector<float> table;
    // The last kTaps input samples, oldest first from historyPos, written twice so that the
    // window is always one contiguous run.
    std::vector<float> historyLeft, historyRight;
    std::size_t historyPos = 0;
    std::uint64_t step;          // input samples per frame, 32.32
    std::uint64_t position = 0;  // fraction of a sample past the window's centre, < kOne
};
