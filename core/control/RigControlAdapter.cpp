#include "control/RigControlAdapter.h"

#include <condition_variable>
#include <mutex>

#include "control/SDRController.h"
#include "platform/MainQueue.h"

namespace {

double hertzToMegahertz(std::int64_t hz) {
    return static_cast<double>(hz) / 1e6;
}

std::int64_t megahertzToHertz(double mhz) {
    return std::llround(mhz * 1e6);
}

}  // namespace

RigControlAdapter::RigControlAdapter(const std::shared_ptr<SDRController>& controller,
                                     std::chrono::milliseconds timeout)
    : controller(controller), queue(controller->dependencies().mainQueue), timeout(timeout) {}

template <typename T, typename Fn>
std::optional<T> RigControlAdapter::onMainThread(Fn fn) const {
    // Shared with the posted task, which may run after this call has given up waiting.
    struct Answer {
        std::mutex lock;
        std::condition_variable ready;
        std::optional<T> value;
    };
    auto answer = std::make_shared<Answer>();
    queue->post([answer, weak = controller, fn = std::move(fn)] {
        const std::shared_ptr<SDRController> c = weak.lock();
        if (!c) return;
        T value = fn(*c);
        std::lock_guard guard(answer->lock);
        answer->value = std::move(value);
        answer->ready.notify_all();
    });
    std::unique_lock guard(answer->lock);
    answer->ready.wait_for(guard, timeout, [&] { return answer->value.has_value(); });
    return answer->value;
}

std::optional<std::int64_t> RigControlAdapter::frequencyHz() const {
    return onMainThread<std::int64_t>(
        [](SDRController& c) { return megahertzToHertz(c.frequencyMHz.get()); });
}

bool RigControlAdapter::setFrequencyHz(std::int64_t hz) const {
    return onMainThread<bool>([hz](SDRController& c) {
               c.tune(hertzToMegahertz(hz), true);
               return true;
           }).has_value();
}

std::optional<RigctlMode> RigControlAdapter::mode() const {
    return onMainThread<RigctlMode>([](SDRController& c) {
        if (c.mode.get() == DemodMode::am) return RigctlMode::am;
        return c.isNarrowbandFM() ? RigctlMode::fm : RigctlMode::wfm;
    });
}

bool RigControlAdapter::setMode(RigctlMode mode) const {
    return onMainThread<bool>([mode](SDRController& c) {
               c.mode = mode == RigctlMode::am ? DemodMode::am : DemodMode::fm;
               c.setIsNarrowbandFM(mode == RigctlMode::fm);
               return true;
           }).has_value();
}

std::optional<int> RigControlAdapter::strengthDB() const {
    return onMainThread<int>(
        [](SDRController& c) { return strengthRelativeToS9(c.channelLevelDB.get()); });
}

RigctlReceiver RigControlAdapter::receiver() const {
    return {
        .getFrequencyHz = [self = *this] { return self.frequencyHz(); },
        .setFrequencyHz = [self = *this](std::int64_t hz) { return self.setFrequencyHz(hz); },
        .getMode = [self = *this] { return self.mode(); },
        .setMode = [self = *this](RigctlMode m) { return self.setMode(m); },
        .getStrengthDB = [self = *this] { return self.strengthDB(); },
    };
}
