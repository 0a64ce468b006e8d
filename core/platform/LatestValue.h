#pragma once

#include <mutex>
#include <optional>

// A one-slot mailbox between threads: the producer overwrites, the consumer takes.
template <typename T>
class LatestValue {
public:
    void set(T value) {
        std::lock_guard lock(mutex);
        slot = std::move(value);
    }
    std::optional<T> take() {
        std::lock_guard lock(mutex);
        std::optional<T> out = std::move(slot);
        slot.reset();
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex);
        slot.reset();
    }

private:
    std::mutex mutex;
    std::optional<T> slot;
};
