#include "platform/ThreadSupport.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

int niceLevelFor(ThreadPriority priority) {
    switch (priority) {
        case ThreadPriority::userInteractive: return -10;
        case ThreadPriority::userInitiated: return -5;
        case ThreadPriority::defaultPriority: return 0;
        case ThreadPriority::utility: return 5;
    }
    return 0;
}

void configureCurrentThread(const std::string& name, ThreadPriority priority) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    // On Linux a nice value applies to a single thread when set through its thread id.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    const int wanted = niceLevelFor(priority);
    if (setpriority(PRIO_PROCESS, tid, wanted) != 0 && wanted < 0) {
        // Unprivileged: a raise is refused, so stay at the default level.
        (void)setpriority(PRIO_PROCESS, tid, 0);
    }
}
