#include "SidebarSection.h"

std::string_view displayName(SidebarSection section) {
    switch (section) {
    case SidebarSection::radio: return "Radio";
    case SidebarSection::stations: return "Stations";
    case SidebarSection::favorites: return "Favorites";
    case SidebarSection::scanner: return "Scanner";
    case SidebarSection::decoders: return "Decoders";
    case SidebarSection::recordings: return "Recordings";
    }
    return "Radio";
}

std::optional<SidebarSection> sidebarSectionFromString(std::string_view text) {
    for (SidebarSection s : kAllSidebarSections)
        if (displayName(s) == text) return s;
    return std::nullopt;
}
