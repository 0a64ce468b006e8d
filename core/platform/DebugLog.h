#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// Diagnostic lines composed by the components. Silent unless VANTIREL_DEBUG=1 is set in the
// environment, then each line goes to standard error. Thread-safe.
class DebugLog {
public:
    static bool isEnabled();
    static void write(std::string_view line);
    // printf-style composition; the text is formatted only when the log is enabled.
    static void writef(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // For tests: capture every composed line (enabled or not) through a hook.
    using Hook = void (*)(std::string_view line, void* context);
    static void setHook(Hook hook, void* context);
};

// printf into a std::string; used for status texts and diagnostic lines.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
