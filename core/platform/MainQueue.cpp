#include "platform/MainQueue.h"

#include <algorithm>
#include <thread>

void MainQueue::post(std::function<void()> fn) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(fn));
        hook = wakeHook;
    }
    arrived.notify_all();
    if (hook) hook();
}

void MainQueue::postAfter(double seconds, std::function<void()> fn) {
    {
        std::lock_guard lock(mutex);
        const auto interval = std::chrono::duration<double>(seconds);
        timers.push_back({.id = nextTimerId++,
                          .due = Clock::now() + std::chrono::duration_cast<Clock::duration>(interval),
                          .interval = interval,
                          .repeating = false,
                          .fn = std::move(fn)});
    }
    arrived.notify_all();
}

MainQueue::TimerId MainQueue::addRepeatingTimer(double seconds, std::function<void()> fn) {
    TimerId id;
    {
        std::lock_guard lock(mutex);
        id = nextTimerId++;
        const auto interval = std::chrono::duration<double>(seconds);
        timers.push_back({.id = id,
                          .due = Clock::now() + std::chrono::duration_cast<Clock::duration>(interval),
                          .interval = interval,
                          .repeating = true,
                          .fn = std::move(fn)});
    }
    arrived.notify_all();
    return id;
}

void MainQueue::cancelTimer(TimerId id) {
    std::lock_guard lock(mutex);
    std::erase_if(timers, [id](const Timer& t) { return t.id == id; });
}

std::size_t MainQueue::runPending() {
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(mutex);
        due.swap(tasks);
        const auto now = Clock::now();
        for (auto it = timers.begin(); it != timers.end();) {
            if (it->due > now) {
                ++it;
                continue;
            }
            if (it->repeating) {
                due.push_back(it->fn);
                // Keep the cadence without bursts after a stall.
                it->due += std::chrono::duration_cast<Clock::duration>(it->interval);
                if (it->due < now) it->due = now + std::chrono::duration_cast<Clock::duration>(it->interval);
                ++it;
            } else {
                due.push_back(std::move(it->fn));
                it = timers.erase(it);
            }
        }
    }
    // Run outside the lock: tasks post more work.
    for (auto& fn : due) fn();
    return due.size();
}

double MainQueue::secondsUntilNextEvent() {
    std::lock_guard lock(mutex);
    if (!tasks.empty()) return 0.0;
    double best = 3600.0;
    const auto now = Clock::now();
    for (const Timer& t : timers)
        best = std::min(best, std::max(0.0, std::chrono::duration<double>(t.due - now).count()));
    return best;
}

bool MainQueue::runUntil(const std::function<bool()>& done,
                         std::chrono::duration<double> timeout) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    for (;;) {
        runPending();
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::unique_lock lock(mutex);
        if (!tasks.empty()) continue;
        auto wakeAt = std::min(deadline, now + std::chrono::milliseconds(20));
        for (const Timer& t : timers) wakeAt = std::min(wakeAt, t.due);
        arrived.wait_until(lock, wakeAt, [this] { return !tasks.empty(); });
    }
}

void MainQueue::setWakeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex);
    wakeHook = std::move(hook);
}
