#pragma once

#include <imgui.h>

#include <map>
#include <string>

// Where named controls were drawn in the current frame, in window pixels. The state file
// publishes them so window tests can click controls without hard-coding the layout.
class UIProbe {
public:
    struct Rect {
        float x = 0, y = 0, width = 0, height = 0;
    };

    void beginFrame() { current.clear(); }
    void endFrame() { shown = current; }
    // The last ImGui item's rectangle.
    void noteItem(const std::string& name);
    void noteRect(const std::string& name, ImVec2 min, ImVec2 max);
    const std::map<std::string, Rect>& rects() const { return shown; }

private:
    std::map<std::string, Rect> current;
    std::map<std::string, Rect> shown;
};
