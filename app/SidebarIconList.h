#pragma once

#include "SidebarSection.h"

class UIProbe;

// The column of section icons, each with its name under it, bound to the selected section.
// Returns true when the selection changed.
bool drawSidebarIconList(SidebarSection& selected, UIProbe& probe);
