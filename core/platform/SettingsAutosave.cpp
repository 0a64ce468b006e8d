#include "platform/SettingsAutosave.h"

#include <string>

#include "platform/DebugLog.h"
#include "platform/SettingsStore.h"

SettingsAutosave::SettingsAutosave(SettingsStore& s, ReceiverSettings saved, Clock::duration interval)
    : store(s), lastSaved(std::move(saved)), minimumInterval(interval) {}

bool SettingsAutosave::offer(const ReceiverSettings& current, Clock::time_point now) {
    if (current == lastSaved) return false;
    if (lastWriteAt && now - *lastWriteAt < minimumInterval) return false;
    return write(current, now);
}

bool SettingsAutosave::flush(const ReceiverSettings& current) {
    return current == lastSaved || write(current, Clock::now());
}

bool SettingsAutosave::write(const ReceiverSettings& current, Clock::time_point now) {
    // A failed write waits out the interval too, so a full disk is not retried every frame.
    lastWriteAt = now;
    std::string error;
    if (!store.save(current, &error)) {
        DebugLog::writef("settings not saved: %s", error.c_str());
        return false;
    }
    lastSaved = current;
    ++saves;
    return true;
}
