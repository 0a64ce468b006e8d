#pragma once

#include <chrono>
#include <optional>

#include "platform/ReceiverSettings.h"

class SettingsStore;

// Writes the settings when they change, at most once per `minimumInterval`, so a crash loses
// only the last moments while dragging a slider does not write a file per frame. The caller
// offers the current settings as often as it likes (each frame) with the time. The store must
// outlive this object. One thread.
class SettingsAutosave {
public:
    using Clock = std::chrono::steady_clock;

    // `lastSaved`: what the file already says (or what must not be written back unchanged).
    SettingsAutosave(SettingsStore& store, ReceiverSettings lastSaved, Clock::duration minimumInterval);

    // Saves when `current` differs from the last saved settings and the interval has passed.
    // Returns true when it wrote the file.
    bool offer(const ReceiverSettings& current, Clock::time_point now);
    // Saves now if anything changed (on quit). Returns false only when a save failed.
    bool flush(const ReceiverSettings& current);

    int saveCount() const { return saves; }

private:
    bool write(const ReceiverSettings& current, Clock::time_point now);

    SettingsStore& store;
    ReceiverSettings lastSaved;
    Clock::duration minimumInterval;
    std::optional<Clock::time_point> lastWriteAt;
    int saves = 0;
};
