#include "sim/SimOscillator.h"

#include <cmath>
#include <numbers>

namespace {
double wrapCycles(double c) { return c - std::floor(c); }
std::complex<double> phasorAt(double cycles) {
    return std::polar(1.0, 2.0 * std::numbers::pi * cycles);
}
}  // namespace

SimOscillator::SimOscillator(double cyclesPerSample, double initialPhaseCycles)
    : step(cyclesPerSample), anchorCycles(wrapCycles(initialPhaseCycles)) {
    value = phasorAt(anchorCycles);
    rotation = phasorAt(step);
}

void SimOscillator::setFrequency(double cyclesPerSample) {
    anchorCycles = phaseCycles();
    count = 0;
    step = cyclesPerSample;
    value = phasorAt(anchorCycles);
    rotation = phasorAt(step);
}

double SimOscillator::phaseCycles() const {
    return wrapCycles(anchorCycles + step * static_cast<double>(count));
}

void SimOscillator::advance(std::uint64_t n) {
    // step * n stays exact to ~1e-6 cycles for skips of hours at megahertz rates.
    anchorCycles = wrapCycles(phaseCycles() + step * static_cast<double>(n));
    count = 0;
    value = phasorAt(anchorCycles);
}

void SimOscillator::resync() {
    anchorCycles = wrapCycles(anchorCycles + step * static_cast<double>(count));
    count = 0;
    value = phasorAt(anchorCycles);
}
