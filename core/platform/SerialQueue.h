#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ThreadSupport.h"

// A serial work queue: one thread runs submitted tasks in order. `async` never blocks;
// `sync` waits for its task (never call it from the queue's own thread). The destructor
// runs what is queued, then joins.
class SerialQueue {
public:
    SerialQueue(std::string label, ThreadPriority priority);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> task);
    void sync(const std::function<void()>& task);
    // Blocks until every task submitted before this call has run.
    void drain();
    const std::string& label() const { return queueLabel; }

private:
    void run();

    std::string queueLabel;
    ThreadPriority threadPriority;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    std::thread worker;  // last: starts after the members it uses
};
