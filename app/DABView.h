#pragma once

#include <imgui.h>

#include "SpectrumView.h"
#include "WaterfallView.h"

struct PanelContext;

// The centre of the window while a DAB stream runs: the DAB header (ensemble, lock, PRS,
// carrier offset, FIC CRC, signal), the now-playing strip (logo, service, dynamic label with
// DL Plus artist and title), the service list, the constellation, the slideshow, the IF
// spectrum and waterfall cropped to the chosen span, and the FIC/MSC figures under a
// disclosure. Main thread.
class DABView {
public:
    void draw(PanelContext& context, ImVec2 size);

private:
    void drawNowPlaying(PanelContext& context, float width);
    void drawSlideshow(PanelContext& context, ImVec2 size);

    SpectrumView spectrum;
    WaterfallView waterfall;
};
