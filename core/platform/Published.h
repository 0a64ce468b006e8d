#pragma once

#include <atomic>

// A published scalar that worker threads read once per block. Relaxed atomics: the design
// needs only that a read sees some recent value, never a torn one.
template <typename T>
class Published {
public:
    Published() = default;
    explicit Published(T initial) : value(initial) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    T get() const { return value.load(std::memory_order_relaxed); }
    operator T() const { return get(); }
    void set(T v) { value.store(v, std::memory_order_relaxed); }
    Published& operator=(T v) {
        set(v);
        return *this;
    }

private:
    std::atomic<T> value{};
};
