#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "adsb/ADSBTrackUpdate.h"

// Subscribers to delivered ADS-B messages (the feeds). notify() runs on the processing thread;
// add() and remove() may come from any thread. Callbacks run outside the lock, so a callback
// may remove itself, and must be quick: feeds only queue the update for their own thread.
class ADSBListenerSet {
public:
    using Listener = std::function<void(const ADSBTrackUpdate&)>;

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
    void notify(const ADSBTrackUpdate& update) const {
        std::map<int, Listener> current;
        {
            std::lock_guard guard(lock);
            if (listeners.empty()) return;
            current = listeners;
        }
        for (const auto& [id, listener] : current) listener(update);
    }

private:
    mutable std::mutex lock;
    std::map<int, Listener> listeners;
    int lastId = 0;
};
