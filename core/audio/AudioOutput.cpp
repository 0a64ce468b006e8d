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
// Callback intervals outside this window (first call, a stall, a device restart) are not
// trusted for pacing; the request size is used instead.
constexpr double kMinPacedIntervalSeconds = 0.001;
constexpr double kMaxPacedIntervalSeconds = 0.08;

// Samples in `seconds` at `rateHz`, truncated as the queue limits are defined.
std::size_t samplesIn(double seconds, double rateHz) {
    return static_cast<std::size_t>(rateHz * seconds);
}

std::size_t queueCapacityFor(double rateHz) {
    if (!(rateHz >= 1.0) || !std::isfinite(rateHz)) {
        throw AudioError{.kind = AudioError::Kind::formatCreationFailed,
                         .message = "Ne mogu kreirati audio format"};
    }
    return static_cast<std::size_t>(kMaxQueuedSeconds) * static_cast<std::size_t>(rateHz);
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
      mixerVolume(volume) {
    if (makeSink) sink = makeSink(sampleRateHz);
    if (!sink) throw AudioError{.kind = AudioError::Kind::noOutputDevice, .message = {}};
}

AudioOutput::~AudioOutput() {
    // The sink's thread calls back into this object; it must be finished before any member
    // goes away.
    sink->stop();
}

void AudioOutput::start() {
    sink->start([this](std::span<float> left, std::span<float> right, double hostTimeSeconds) {
        render(left, right, hostTimeSeconds);
    });
    DebugLog::writef("AUDIO deviceSR=%.1f mixerSR=%.1f srcSR=%.1f", sink->deviceSampleRate(),
                     engineRateHz, engineRateHz);
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
    sourceRateHz.store(samplesPerSecond, std::memory_order_relaxed);
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
    return hasPrebuffered;
}

std::int64_t AudioOutput::pullCallCount() const {
    std::lock_guard guard(lock);
    return pullCalls;
}

void AudioOutput::render(std::span<float> left, std::span<float> right, double hostTimeSeconds) {
    assert(left.size() == right.size());
    const std::size_t written = pull(left, right, hostTimeSeconds);
    std::fill(left.begin() + static_cast<std::ptrdiff_t>(written), left.end(), 0.0f);
    std::fill(right.begin() + static_cast<std::ptrdiff_t>(written), right.end(), 0.0f);
    const float gain = mixerVolume.load(std::memory_order_relaxed);
    if (gain == 1.0f) return;
    for (std::size_t i = 0; i < written; ++i) {
        left[i] *= gain;
        right[i] *= gain;
    }
}

std::size_t AudioOutput::pull(std::span<float> left, std::span<float> right,
                              double hostTimeSeconds) {
    const std::size_t n = left.size();
    std::lock_guard guard(lock);
    ++pullCalls;

    std::size_t budget = n;
    const double intervalSeconds = hostTimeSeconds - lastPullMediaTime;
    if (lastPullMediaTime > 0.0 && intervalSeconds > kMinPacedIntervalSeconds &&
        intervalSeconds < kMaxPacedIntervalSeconds) {
        const long long paced = std::llround(intervalSeconds * sourceRate());
        budget = static_cast<std::size_t>(std::max(1LL, paced));
    }
    lastPullMediaTime = hostTimeSeconds;

    if (!hasPrebuffered) {
        if (leftBuffer.size() < initialPrimeThreshold) return 0;
        hasPrebuffered = true;
        hasEverPrimed = true;
    }

    std::size_t k = std::min(leftBuffer.size(), rightBuffer.size());
    if (k == 0) return 0;
    k = std::min(k, budget);

    std::size_t written = n;
    if (k == n) {
        for (std::size_t i = 0; i < n; ++i) {
            left[i] = leftBuffer.at(i);
            right[i] = rightBuffer.at(i);
        }
    } else if (n == 0) {
        written = 0;
    } else if (k == 1) {
        std::fill(left.begin(), left.end(), leftBuffer.at(0));
        std::fill(right.begin(), right.end(), rightBuffer.at(0));
    } else {
        // Linear interpolation of k queued samples onto n output frames; the first and last
        // frames land on the first and last samples (for n >= 2).
        const float step = n >= 3 ? static_cast<float>(k - 1) / static_cast<float>(n - 1)
                                  : static_cast<float>(k - 1);
        for (std::size_t i = 0; i < n; ++i) {
            const float position = step * static_cast<float>(i);
            // Clamped so that float rounding of the last position cannot leave the block.
            const std::size_t j = std::min(static_cast<std::size_t>(position), k - 1);
            const std::size_t next = std::min(k - 1, j + 1);
            const float fraction = position - static_cast<float>(j);
            const float l0 = leftBuffer.at(j), r0 = rightBuffer.at(j);
            left[i] = l0 + fraction * (leftBuffer.at(next) - l0);
            right[i] = r0 + fraction * (rightBuffer.at(next) - r0);
        }
    }
    leftBuffer.discard(k);
    rightBuffer.discard(k);
    return written;
}
