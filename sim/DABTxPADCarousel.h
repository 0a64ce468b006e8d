#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/DABTxDynamicLabel.h"
#include "sim/MOTTxObject.h"

// One stretch of a programme's PAD: the label shown and the slide sent during it.
struct DABTxPADWindow {
    DABTxDynamicLabelMessage label;
    std::optional<MOTTxObject> slide;
    bool operator==(const DABTxPADWindow&) const = default;
};

struct DABTxPADCarouselConfig {
    std::vector<DABTxPADWindow> windows;  // in order, then over again
    int windowSuperframes = 80;           // 120 ms each: 9.6 s
    std::size_t maxXPADBytes = 34;        // per access unit
    std::size_t slideSegmentBytes = 512;  // MOT body segment
    bool operator==(const DABTxPADCarouselConfig&) const = default;
};

// The PAD of every access unit of one cycle of the carousel, to be sent over and over: window w
// fills its windowSuperframes·ausPerSuperframe AUs with its label's data groups (toggle = w
// mod 2, so a cycle holds an even number of windows: twice the list when it is odd) and its
// slide in header mode, taking turns: the whole label, then one slide data group. A data group
// that would not end inside its window is not started, so each window is self-contained.
std::vector<std::vector<std::uint8_t>> dabTxPADCarousel(const DABTxPADCarouselConfig& config,
                                                        int ausPerSuperframe);
// Windows in one cycle of dabTxPADCarousel.
std::size_t dabTxPADCycleWindows(const DABTxPADCarouselConfig& config);
