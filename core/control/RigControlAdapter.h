#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>

#include "feeds/RigctlReceiver.h"

class MainQueue;
class SDRController;

// S-meter mapping for rig control. hamlib's STRENGTH is dB relative to S9, with S0 54 dB below
// it. Our channel level is dBFS per 2 kHz bin (control/LevelScale.h): the 8-bit converter's
// own noise sits near -78, an empty channel at -45..-65 with the dongle's automatic gain, a
// strong FM station near -25. S9 at -30 dBFS puts S0 (-84) just under the converter's noise and
// a strong station at S9+5, so the 54 dB of the S scale cover what the dongle can tell apart.
inline constexpr float kS9LevelDBFS = -30.0f;

constexpr int strengthRelativeToS9(float channelLevelDBFS) {
    const float relative = channelLevelDBFS - kS9LevelDBFS;
    // An empty bin (-150 dBFS) would read S9-120: nothing reads below S0.
    const float clamped = relative < -54.0f ? -54.0f : relative;
    return static_cast<int>(clamped < 0 ? clamped - 0.5f : clamped + 0.5f);
}

// The rig control server's way into the controller. Each call posts its work to the main queue
// and waits for the answer, at most `timeout`, so the server's thread never touches the
// controller; a controller that is gone or a main thread that is busy gives an empty answer,
// which the server reports as a timeout. Holds the controller weakly.
class RigControlAdapter {
public:
    RigControlAdapter(const std::shared_ptr<SDRController>& controller,
                      std::chrono::milliseconds timeout = std::chrono::seconds(2));

    std::optional<std::int64_t> frequencyHz() const;
    // Tunes as the tuning dial does: listening offset applied, RDS restarted.
    bool setFrequencyHz(std::int64_t hz) const;
    // Wide FM, narrow FM (the controller's narrow-band flag) or AM.
    std::optional<RigctlMode> mode() const;
    bool setMode(RigctlMode mode) const;
    // The tuned channel's level, on the S scale above.
    std::optional<int> strengthDB() const;

    // Callbacks bound to a copy of this adapter, for RigctlServer.
    RigctlReceiver receiver() const;

private:
    template <typename T, typename Fn>
    std::optional<T> onMainThread(Fn fn) const;

    std::weak_ptr<SDRController> controller;
    std::shared_ptr<MainQueue> queue;
    std::chrono::milliseconds timeout;
};
