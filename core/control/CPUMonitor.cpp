#include "control/CPUMonitor.h"

#include <algorithm>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

CPUMonitor::Clocks CPUMonitor::systemClocks() {
    return {
        .cpuSeconds =
            [] {
                rusage usage{};
                if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
                const auto toSeconds = [](const timeval& t) {
                    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
                };
                return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
            },
        .wallSeconds =
            [] {
                using namespace std::chrono;
                return duration<double>(system_clock::now().time_since_epoch()).count();
            },
        .activeProcessors = [] { return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)); },
    };
}

CPUMonitor::CPUMonitor() : CPUMonitor(systemClocks()) {}

CPUMonitor::CPUMonitor(Clocks c) : clocks(std::move(c)) {
    lastCPUTime = clocks.cpuSeconds();
    lastWallTime = clocks.wallSeconds();
    coreCount = std::max(1.0, static_cast<double>(clocks.activeProcessors()));
}

std::optional<double> CPUMonitor::sample() {
    const double cpu = clocks.cpuSeconds();
    const double wall = clocks.wallSeconds();
    const double elapsedWall = wall - lastWallTime;
    const double usedCPU = cpu - lastCPUTime;
    lastCPUTime = cpu;
    lastWallTime = wall;
    if (elapsedWall <= 0.0) return std::nullopt;
    const double percent = std::min(usedCPU / elapsedWall * 100.0 / coreCount, 100.0);
    return std::max(percent, 0.0);
}
