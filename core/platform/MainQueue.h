#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// Work for the main thread. Any thread may post; only the main thread runs what is due, from
// `runPending` (once per window frame) or `runUntil` (tests and the CLI). Timers fire on the
// main thread too. A wake hook lets the window leave its event wait when work arrives.
class MainQueue {
public:
    using Clock = std::chrono::steady_clock;
    using TimerId = std::uint64_t;

    MainQueue() = default;
    MainQueue(const MainQueue&) = delete;
    MainQueue& operator=(const MainQueue&) = delete;

    void post(std::function<void()> fn);
    void postAfter(double seconds, std::function<void()> fn);
    TimerId addRepeatingTimer(double seconds, std::function<void()> fn);
    void cancelTimer(TimerId id);

    // Runs every posted task and every timer that is due; returns the number run.
    std::size_t runPending();
    // Pumps (sleeping between arrivals) until `done` holds or `timeout` elapses; returns done().
    bool runUntil(const std::function<bool()>& done, std::chrono::duration<double> timeout);
    // Seconds until the next timer is due (0 when work is pending, a large value when none).
    double secondsUntilNextEvent();

    void setWakeHook(std::function<void()> hook);

private:
    struct Timer {
        TimerId id = 0;
        Clock::time_point due;
        std::chrono::duration<double> interval{0};
        bool repeating = false;
        std::function<void()> fn;
    };

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::function<void()>> tasks;
    std::vector<Timer> timers;
    TimerId nextTimerId = 1;
    std::function<void()> wakeHook;
};
