#pragma once

#include <imgui.h>

// The window's look: one dark palette, the fonts by role and the ImGui style.
namespace theme {

inline constexpr ImU32 kWindow = IM_COL32(12, 15, 19, 255);
inline constexpr ImU32 kPanel = IM_COL32(18, 22, 28, 255);
inline constexpr ImU32 kCard = IM_COL32(25, 30, 38, 255);
inline constexpr ImU32 kCardHover = IM_COL32(33, 40, 50, 255);
inline constexpr ImU32 kPlot = IM_COL32(8, 11, 15, 255);
inline constexpr ImU32 kBorder = IM_COL32(40, 48, 60, 255);
inline constexpr ImU32 kGrid = IM_COL32(46, 56, 70, 150);
inline constexpr ImU32 kText = IM_COL32(228, 232, 238, 255);
inline constexpr ImU32 kTextDim = IM_COL32(139, 149, 163, 255);
inline constexpr ImU32 kTextFaint = IM_COL32(92, 102, 115, 255);
inline constexpr ImU32 kAccent = IM_COL32(61, 165, 255, 255);
inline constexpr ImU32 kAccentSoft = IM_COL32(61, 165, 255, 60);
inline constexpr ImU32 kAccentDeep = IM_COL32(28, 72, 112, 255);
inline constexpr ImU32 kGood = IM_COL32(60, 203, 127, 255);
inline constexpr ImU32 kWarn = IM_COL32(242, 177, 58, 255);
inline constexpr ImU32 kBad = IM_COL32(239, 83, 80, 255);
inline constexpr ImU32 kStar = IM_COL32(255, 196, 61, 255);
inline constexpr ImU32 kMarker = IM_COL32(255, 92, 92, 255);
inline constexpr ImU32 kMapBackground = IM_COL32(20, 30, 42, 255);

// Font atlas slots, in the order AppWindow loads them.
enum class FontRole { body, bold, display, small, scale, mono, title };

ImFont* font(FontRole role);
ImVec4 colour(ImU32 packed);
ImU32 withAlpha(ImU32 packed, float alpha);
// Sets the ImGui style to the palette above.
void apply();

// Pushes a font for the scope.
class FontScope {
public:
    explicit FontScope(FontRole role) { ImGui::PushFont(font(role)); }
    ~FontScope() { ImGui::PopFont(); }
    FontScope(const FontScope&) = delete;
    FontScope& operator=(const FontScope&) = delete;
};

}  // namespace theme
