#pragma once

#include <memory>
#include <string>

class SDRController;

// The window's content: a header with the receiver chips and status line, start/stop and a
// frequency field. Reads published state each frame; calls controller operations.
class ReceiverView {
public:
    ReceiverView(std::shared_ptr<SDRController> controller, std::string sourceDescription);
    void draw();

private:
    void drawHeader();
    void drawTuning();

    std::shared_ptr<SDRController> controller;
    std::string sourceDescription;
    double frequencyEditMHz = 0.0;
    bool frequencyEditActive = false;
};
