#include "audio/AudioOutput.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "audio/AudioError.h"
#include "platform/DebugLog.h"

namespace {

constexpr double kMaxQueuedSeconds = 4.0;
constexpr double kPrimeSeconds = 0.4;
constexpr double kRecoverySeconds = 0.8;
// Input copied out of the queues per resampling step; a period bigger than this is done in
// several steps.
constexpr std::size_t kScratchSamples = 8'192;

// Samples in `seconds` at `rateHz`, truncated as the queue limits are defined.
std::size_t samplesIn(double seconds, double rateHz) {
    return static_cast<std::size_t>(rateHz * seconds);
}

bool isUsableRate(double rateHz) {
    return rateHz >= 1.0 && std::isfinite(rateHz);
}

std::size_t queueCapacityFor(double rateHz) {
    if (!isUsableRate(rateHz)) {
        throw AudioError{.kind = AudioError::Kind::formatCreationFailed,
                         .message = "Ne mogu kreirati audio format"};
    }
    return static_cast<std::size_t>(kMaxQueuedSeconds) * static_cast<std::size_t>(rateHz);
}

std::unique_ptr<AudioSink> makeSinkOrThrow(const AudioOutput::SinkFactory& makeSink,
                                           double rateHz) {
    std::unique_ptr<AudioSink> made = makeSink ? makeSink(rateHz) : nullptr;
    if (!made) throw AudioError{.kind = AudioError::Kind::noOutputDevice, .message = {}};
    return made;
}

}  // namespace

AudioSampleRing::AudioSampleRing(std::size_t capacity) : storage(capacity, 0.0f) {}

void AudioSampleRing::append(std::span<const float> samples) {
    const std::size_t capacity = storage.size();
    if (samples.size() >= capacity) {
        // Only the newest `capacity` samples survive.
        std::copy(samples.end() - static_cast<std::ptrdiff_t>(capacity), samples.end(),
                  storage.begin());
        head = 0;
        count = capacity;
        return;
    }
    const std::size_t overflow =
        count + samples.size() > capacity ? count + samples.size() - capacity : 0;
    discard(overflow);
    std::size_t tail = head + count;
    if (tail >= capacity) tail -= capacity;
    const std::size_t firstPart = std::min(samples.size(), capacity - tail);
    std::copy_n(samples.begin(), firstPart, storage.begin() + static_cast<std::ptrdiff_t>(tail));
    std::copy(samples.begin() + static_cast<std::ptrdiff_t>(firstPart), samples.end(),
              storage.begin());
    count += samples.size();
}

void AudioSampleRing::copyOldest(std::span<float> out) const {
    assert(out.size() <= count);
    const std::size_t firstPart = std::min(out.size(), storage.size() - head);
    std::copy_n(storage.begin() + static_cast<std::ptrdiff_t>(head), firstPart, out.begin());
    std::copy_n(storage.begin(), out.size() - firstPart,
                out.begin() + static_cast<std::ptrdiff_t>(firstPart));
}

void AudioSampleRing::discard(std::size_t samples) {
    samples = std::min(samples, count);
    head += samples;
    if (head >= storage.size()) head -= storage.size();
    count -= samples;
}

AudioOutput::AudioOutput(double sampleRateHz, float volume, const SinkFactory& makeSink)
    : leftBuffer(queueCapacityFor(sampleRateHz)),
      rightBuffer(queueCapacityFor(sampleRateHz)),
      maxBufferSize(queueCapacityFor(sampleRateHz)),
      engineRateHz(sampleRateHz),
      initialPrimeThreshold(samplesIn(kPrimeSeconds, sampleRateHz)),
      maxRecoveryThreshold(samplesIn(kRecoverySeconds, sampleRateHz)),
      drift({.targetSeconds = kPrimeSeconds}),
      scratchLeft(kScratchSamples),
      scratchRight(kScratchSamples),
      sourceRateHz(sampleRateHz),
      mixerVolume(volume) {
    sink = makeSinkOrThrow(makeSink, sampleRateHz);
}

AudioOutput::~AudioOutput() {
    // The sink's thread calls back into this object; it must be finished before any member
    // goes away.
    sink->stop();
}

AudioSink::RenderCallback AudioOutput::renderCallback() {
    return [this](std::span<float> left, std::span<float> right, double /*hostTimeSeconds*/) {
        render(left, right);
    };
}

void AudioOutput::start() {
    std::lock_guard config(configLock);
    startSink(*sink);
}

void AudioOutput::startSink(AudioSink& s) {
    // Fitted to the rate the sink was asked for before it starts, so that its first callback
    // already plays; refitted if the device settled on another rate.
    const double askedHz = s.deviceSampleRate();
    installResampler(sourceRate(), askedHz);
    s.start(renderCallback());
    if (s.deviceSampleRate() != askedHz) installResampler(sourceRate(), s.deviceSampleRate());
    DebugLog::writef("AUDIO deviceSR=%.1f srcSR=%.1f", s.deviceSampleRate(), sourceRate());
}

void AudioOutput::replaceSink(const SinkFactory& makeSink) {
    std::lock_guard config(configLock);
    std::unique_ptr<AudioSink> fresh = makeSinkOrThrow(makeSink, engineRateHz);
    sink->stop();
    try {
        startSink(*fresh);
    } catch (const AudioError&) {
        startSink(*sink);
        throw;
    }
    sink = std::move(fresh);
}

void AudioOutput::installResampler(double sourceHz, double deviceHz) {
    if (!isUsableRate(sourceHz) || !isUsableRate(deviceHz)) return;
    auto fresh = std::make_unique<AudioPlaybackResampler>(
        AudioPlaybackResamplerConfig{.inputRateHz = sourceHz, .outputRateHz = deviceHz});
    std::lock_guard guard(lock);
    fresh.swap(resampler);
    deviceRateHz = deviceHz;
    drift.reset();
    // `fresh` now holds the old resampler and is freed after the lock is released.
}

void AudioOutput::push(std::span<const float> samples) {
    pushStereo(samples, samples);
}

void AudioOutput::pushStereo(std::span<const float> left,
                             std::optional<std::span<const float>> right) {
    std::lock_guard guard(lock);
    leftBuffer.append(left);
    rightBuffer.append(right.value_or(left));
}

void AudioOutput::setVolume(float volume) {
    mixerVolume.store(volume, std::memory_order_relaxed);
}

void AudioOutput::setSourceRate(double samplesPerSecond) {
    if (samplesPerSecond == sourceRate() || !isUsableRate(samplesPerSecond)) return;
    std::lock_guard config(configLock);
    sourceRateHz.store(samplesPerSecond, std::memory_order_relaxed);
    double deviceHz = 0.0;
    {
        std::lock_guard guard(lock);
        deviceHz = deviceRateHz;
    }
    installResampler(samplesPerSecond, deviceHz);
}

bool AudioOutput::isEngineRunning() const {
    return sink->isRunning();
}

std::size_t AudioOutput::bufferedSampleCount() const {
    std::lock_guard guard(lock);
    return leftBuffer.size();
}

bool AudioOutput::hasStartedPlayback() const {
    std::lock_guard guard(lock);
    return hasEverPrimed;
}

bool AudioOutput::isPlaying() const {
    std::lock_guard guard(lock);
    return hasPrebuffered;
}

std::int64_t AudioOutput::pullCallCount() const {
    std::lock_guard guard(lock);
    return pullCalls;
}

std::int64_t AudioOutput::underrunCount() const {
    std::lock_guard guard(lock);
    return underruns;
}

double AudioOutput::rateCorrection() const {
    std::lock_guard guard(lock);
    return drift.correction();
}

void AudioOutput::render(std::span<float> left, std::span<float> right) {
    assert(left.size() == right.size());
    const std::size_t written = pull(left, right);
    std::fill(left.begin() + static_cast<std::ptrdiff_t>(written), left.end(), 0.0f);
    std::fill(right.begin() + static_cast<std::ptrdiff_t>(written), right.end(), 0.0f);
    const float gain = mixerVolume.load(std::memory_order_relaxed);
    if (gain == 1.0f) return;
    for (std::size_t i = 0; i < written; ++i) {
        left[i] *= gain;
        right[i] *= gain;
    }
}

std::size_t AudioOutput::pull(std::span<float> left, std::span<float> right) {
    const std::size_t n = left.size();
    std::lock_guard guard(lock);
    ++pullCalls;
    if (!resampler || n == 0) return 0;

    // Only frames present on both channels can play; a longer channel's surplus waits.
    std::size_t available = std::min(leftBuffer.size(), rightBuffer.size());
    if (!hasPrebuffered) {
        if (available < initialPrimeThreshold) return 0;
        hasPrebuffered = true;
        hasEverPrimed = true;
        drift.reset();
    }
    if (available > maxRecoveryThreshold) {
        // Far more than the loop could work off at 0.5 %: cut back to the target at once.
        const std::size_t excess = available - initialPrimeThreshold;
        leftBuffer.discard(excess);
        rightBuffer.discard(excess);
        available = initialPrimeThreshold;
        drift.reset();
    }

    const double sourceHz = resampler->config().inputRateHz;
    resampler->setRateCorrection(drift.update(static_cast<double>(available) / sourceHz,
                                              static_cast<double>(n) / deviceRateHz));
    std::size_t frames = n;
    if (resampler->inputNeeded(n) > available) {
        // Underrun: play what is there, then wait for a full prime instead of stretching it.
        frames = resampler->framesFrom(available);
        hasPrebuffered = false;
        ++underruns;
    }
    resample(frames, left, right);
    return frames;
}

void AudioOutput::resample(std::size_t frames, std::span<float> left, std::span<float> right) {
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t chunk = std::min(frames - done, resampler->framesFrom(kScratchSamples));
        const std::size_t needed = resampler->inputNeeded(chunk);
        const std::span<float> inLeft(scratchLeft.data(), needed);
        const std::span<float> inRight(scratchRight.data(), needed);
        leftBuffer.copyOldest(inLeft);
        rightBuffer.copyOldest(inRight);
        leftBuffer.discard(needed);
        rightBuffer.discard(needed);
        resampler->process(inLeft, inRight, left.subspan(done, chunk), right.subspan(done, chunk));
        done += chunk;
    }
}
