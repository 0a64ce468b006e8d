#pragma once

#include <string>

// Quality-of-service classes of the design, mapped to nice levels in one place.
enum class ThreadPriority { userInteractive, userInitiated, defaultPriority, utility };

// Names the calling thread (shown by ps/top/gdb; at most 15 characters are kept) and applies
// the priority class. Failure to raise priority is ignored: it needs privileges.
void configureCurrentThread(const std::string& name, ThreadPriority priority);

// Nice level of a class (lower is more urgent).
int niceLevelFor(ThreadPriority priority);
