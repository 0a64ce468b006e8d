#pragma once

#include <imgui.h>

#include <span>
#include <string>

// Small drawing helpers shared by the views: headings, chips, switches, segmented controls,
// stars and cards.
namespace widgets {

// A dim, bold, upper-case heading ("STATIONS") with room above it.
void sectionTitle(const char* text);
// A caption in the small font, dimmed.
void caption(const char* text);
void captionWrapped(const char* text);
// "Level  -42 dB" as a rounded chip; `accent` colours the value.
void chip(const char* label, const std::string& value, ImU32 accent);
// Label on the left, a switch on the right edge of the column; true when flipped.
bool toggleSwitch(const char* label, bool* value);
// One row of equal buttons; true when the selection changed.
bool segmented(const char* id, std::span<const char* const> labels, int* selected,
               float width = 0.0f);
// A rounded button that shows an on state in the accent colour; true when pressed.
bool pillButton(const char* label, bool on, ImVec2 size = ImVec2(0, 0));
// An accent-filled button for the main action of a panel.
bool primaryButton(const char* label, ImVec2 size = ImVec2(0, 0), ImU32 fill = 0);
// A thin horizontal rule across the current column (inside a card, only across the card).
void divider();
// "Label ........ value" on one line.
void valueRow(const char* label, const std::string& value, ImU32 valueColour = 0);
// A five-pointed star.
void drawStar(ImDrawList* list, ImVec2 centre, float radius, ImU32 colour, bool filled);
// A star toggle of the given size; true when clicked.
bool starButton(const char* id, bool on, float size = 22.0f);
// A small coloured text badge ("RDS", "STEREO").
void badge(const char* text, ImU32 colour, bool on = true);
// The background of a list row: the accent tint and bar when selected, a lighter card on hover.
void rowBackground(ImDrawList* list, ImVec2 min, ImVec2 max, bool selected, bool hovered);
// Text right-aligned to the end of the current column.
void textRightAligned(const char* text, ImU32 colour);

// A panel card: content drawn inside a rounded, filled rectangle as wide as the column.
// Cards do not nest (each uses the window's draw-list channels).
class Card {
public:
    explicit Card(const char* id, float padding = 10.0f);
    ~Card();
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

private:
    ImVec2 start;
    float padding;
    float width = 0.0f;
    float savedContentMaxX = 0.0f;
    float savedWorkMaxX = 0.0f;
};

}  // namespace widgets
