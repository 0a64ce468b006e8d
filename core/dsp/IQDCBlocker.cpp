#include "dsp/IQDCBlocker.h"

#include <algorithm>
#include <cassert>
#include <cmath>

IQDCBlocker::IQDCBlocker(float alpha)
    : groupAlpha(1.0 - std::pow(1.0 - static_cast<double>(alpha), static_cast<double>(kGroup))) {}

void IQDCBlocker::reset() {
    meanI = meanQ = 0.0;
    sumI = sumQ = 0.0f;
    filled = 0;
}

void IQDCBlocker::process(std::span<const IQSample> in, std::span<IQSample> out) {
    assert(out.size() >= in.size());
    std::size_t n = 0;
    while (n < in.size()) {
        const std::size_t count = std::min(kGroup - filled, in.size() - n);
        const auto mi = static_cast<float>(meanI);
        const auto mq = static_cast<float>(meanQ);
        // Summed in stream order, so a group cut between calls rounds the same way.
        float si = sumI, sq = sumQ;
        for (std::size_t k = n; k < n + count; ++k) {
            const IQSample x = in[k];
            si += x.i;
            sq += x.q;
            out[k] = {x.i - mi, x.q - mq};
        }
        sumI = si;
        sumQ = sq;
        filled += count;
        n += count;
        if (filled == kGroup) {
            const double scale = 1.0 / static_cast<double>(kGroup);
            meanI += (static_cast<double>(sumI) * scale - meanI) * groupAlpha;
            meanQ += (static_cast<double>(sumQ) * scale - meanQ) * groupAlpha;
            sumI = sumQ = 0.0f;
            filled = 0;
        }
    }
}
