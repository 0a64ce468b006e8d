#pragma once

#include <functional>
#include <optional>

// Process CPU load as a percentage of all cores, sampled by the controller's 1 s timer.
// Main thread only. The clocks are injectable for tests.
class CPUMonitor {
public:
    struct Clocks {
        std::function<double()> cpuSeconds;   // user + system time of the process
        std::function<double()> wallSeconds;  // seconds since a fixed reference date
        std::function<int()> activeProcessors;
    };
    static Clocks systemClocks();

    CPUMonitor();
    explicit CPUMonitor(Clocks clocks);

    // Percentage in [0, 100] since the previous reading, absent when no wall time passed.
    std::optional<double> sample();

    double lastCPUTime = 0.0;
    double lastWallTime = 0.0;
    double coreCount = 1.0;

private:
    Clocks clocks;
};
