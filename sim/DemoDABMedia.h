#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/DABTxPADCarousel.h"

// What the demo's DAB services send besides audio: a station logo per ensemble (a PNG in the
// data service's MOT carousel) and, on one programme, a dynamic label with DL Plus tags and a
// slideshow in its X-PAD. Tests compare a decode with these.

struct DemoDABLabel {
    std::string text;    // UTF-8 as sent in charset 0 (capital Đ goes out as Ð, U+00D0)
    std::string artist;  // the DL Plus ITEM.ARTIST part of text
    std::string title;   // the DL Plus ITEM.TITLE part of text
    bool operator==(const DemoDABLabel&) const = default;
};

struct DemoDABSlide {
    std::string name;  // MOT ContentName
    int contentSubtype = 0;  // image: 1 JPEG, 3 PNG
    std::vector<std::uint8_t> bytes;
    bool operator==(const DemoDABSlide&) const = default;
};

// Window w of the carousel (w = 0, 1, ... from the emitter's first transmission frame, lasting
// `window` each) carries labels[w mod n] and slides[w mod n]; labels and slides are as many.
// The label is complete on air within about half a second of its window's start, a slide
// within a few seconds (after the 360 ms the time interleaver adds), and both repeat until the
// window ends.
struct DemoDABPAD {
    std::vector<DemoDABLabel> labels;
    std::vector<DemoDABSlide> slides;
    std::chrono::milliseconds window{9'600};
    DABTxPADCarouselConfig carousel;  // the same content as the tone source takes it
    bool operator==(const DemoDABPAD&) const = default;
};

// The index into labels and slides current at `streamTime` after the first frame.
std::size_t demoDABPADWindowAt(const DemoDABPAD& pad, std::chrono::duration<double> streamTime);
// One full cycle of the carousel (labels and toggle both back where they started).
std::chrono::milliseconds demoDABPADPeriod(const DemoDABPAD& pad);

// The PAD of the demo's 12C programme 0x2C11.
DemoDABPAD demoDABPAD();
// The station logo of a demo ensemble ("12C" or "5C"): 128×128 RGBA PNG, an emblem with the
// data service's initials; empty for another channel.
std::vector<std::uint8_t> demoDABLogoPNG(const std::string& channel);
