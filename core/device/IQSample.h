#pragma once

#include <cstdint>

// One complex baseband sample. Device samples are scaled to -1..+1 by (byte - 127.5) / 127.5.
// Arrays of it are contiguous interleaved (i, q) float pairs and may be viewed as such.
struct IQSample {
    float i = 0.0f;
    float q = 0.0f;
    bool operator==(const IQSample&) const = default;
};

static_assert(sizeof(IQSample) == 2 * sizeof(float), "IQSample must be a packed (i, q) pair");
