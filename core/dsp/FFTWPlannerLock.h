#pragma once

#include <mutex>

// FFTW's planner keeps global state and is not thread-safe: every fftwf plan creation and
// destruction in the process holds this one lock. Executing a plan needs no lock.
std::mutex& fftwPlannerMutex();
