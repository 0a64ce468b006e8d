#include "platform/DebugLog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct LogState {
    std::mutex mutex;
    std::atomic<DebugLog::Hook> hook{nullptr};
    std::atomic<void*> context{nullptr};
};

// The one process-wide sink: stderr is process-wide too, so the lock belongs beside it.
LogState& state() {
    static LogState s;
    return s;
}

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}

}  // namespace

bool DebugLog::isEnabled() {
    static const bool enabled = [] {
        const char* v = std::getenv("VANTIREL_DEBUG");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    return enabled;
}

void DebugLog::write(std::string_view line) {
    LogState& s = state();
    if (Hook hook = s.hook.load()) hook(line, s.context.load());
    if (!isEnabled()) return;
    std::lock_guard lock(s.mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}

void DebugLog::writef(const char* format, ...) {
    LogState& s = state();
    if (!isEnabled() && s.hook.load() == nullptr) return;
    va_list args;
    va_start(args, format);
    const std::string line = vformat(format, args);
    va_end(args);
    write(line);
}

void DebugLog::setHook(Hook hook, void* context) {
    LogState& s = state();
    s.context.store(context);
    s.hook.store(hook);
}

std::string formatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = vformat(format, args);
    va_end(args);
    return out;
}
