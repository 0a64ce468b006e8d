#pragma once

#include <functional>
#include <map>
#include <mutex>

// Subscribers to events a decoder thread delivers (feeds, the command line). notify() runs on
// the producing thread; add() and remove() may come from any thread. Callbacks run outside
// the lock, so a callback may remove itself, and must be quick.
template <typename... Event>
class ListenerSet {
public:
    using Listener = std::function<void(const Event&...)>;

    int add(Listener listener) {
        std::lock_guard guard(lock);
        listeners.emplace(++lastId, std::move(listener));
        return lastId;
    }
    void remove(int id) {
        std::lock_guard guard(lock);
        listeners.erase(id);
    }
    bool empty() const {
        std::lock_guard guard(lock);
        return listeners.empty();
    }
    void notify(const Event&... event) const {
        std::map<int, Listener> current;
        {
            std::lock_guard guard(lock);
            if (listeners.empty()) return;
            current = listeners;
        }
        for (const auto& [id, listener] : current) listener(event...);
    }

private:
    mutable std::mutex lock;
    std::map<int, Listener> listeners;
    int lastId = 0;
};
