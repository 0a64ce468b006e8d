#include "dsp/FFTWPlannerLock.h"

std::mutex& fftwPlannerMutex() {
    static std::mutex mutex;
    return mutex;
}
