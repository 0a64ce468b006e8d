#pragma once
// Interface placeholder until the channel filter lands.
#include <cstddef>
#include <span>
#include <vector>
#include "device/IQSample.h"
enum class ChannelFilterMode { wideFM, narrowFM, am };
class ChannelFilter {
public:
    explicit ChannelFilter(ChannelFilterMode mode, double sampleRateHz = 2'048'000.0);
    ~ChannelFilter();
    void setMode(ChannelFilterMode mode);
    void process(std::span<const IQSample> in, std::span<IQSample> out);
    void reset();
    double passbandHz() const;
};
