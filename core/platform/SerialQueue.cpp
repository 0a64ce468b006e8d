#include "platform/SerialQueue.h"

#include <future>

SerialQueue::SerialQueue(std::string label, ThreadPriority priority)
    : queueLabel(std::move(label)), threadPriority(priority), worker([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
}

void SerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& task) {
    std::promise<void> done;
    async([&] {
        task();
        done.set_value();
    });
    done.get_future().wait();
}

void SerialQueue::drain() {
    sync([] {});
}

void SerialQueue::run() {
    configureCurrentThread(queueLabel, threadPriority);
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !tasks.empty(); });
        if (tasks.empty()) return;  // stopping, and everything queued has run
        std::function<void()> task = std::move(tasks.front());
        tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}
