#pragma once

#include <array>
#include <optional>
#include <string_view>

// The sections of the left column, in the order of the icon list.
enum class SidebarSection { radio, stations, favorites, scanner, decoders, recordings };

inline constexpr std::array<SidebarSection, 6> kAllSidebarSections = {
    SidebarSection::radio,    SidebarSection::stations, SidebarSection::favorites,
    SidebarSection::scanner,  SidebarSection::decoders, SidebarSection::recordings};

// "Radio", "Stations", "Favorites", "Scanner", "Decoders", "Recordings".
std::string_view displayName(SidebarSection section);
// The section whose display string is exactly `text`; absent for any other string.
std::optional<SidebarSection> sidebarSectionFromString(std::string_view text);
