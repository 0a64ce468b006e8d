#pragma once

#include <string>

class GLTexture;
class UIProbe;

// One row of a DAB list: a square picture (the station logo, or a monogram when there is
// none), a name, a detail line and a value on the right. `probeName` names the row (and
// "logo " + probeName the logo when drawn) for the window tests. True when clicked.
struct DABRowInput {
    std::string name{};
    std::string detail{};
    std::string valueText{};
    bool selected = false;
    const GLTexture* logo = nullptr;
    bool showPicture = true;  // channel rows show a level dot instead
    float level = 0.0f;       // 0…1, the dot's fill when no picture is shown
    bool enabled = true;
};

bool drawDABRow(const char* id, const DABRowInput& row, UIProbe& probe, const std::string& probeName);
