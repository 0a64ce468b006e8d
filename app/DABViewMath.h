#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dab/DABTypes.h"

// The DAB views' small conversions: which scanned channels the list shows, how tight the
// constellation is, the now-playing lines and how a picture fits a box. Pure, no ImGui.

// Indices into `results` of the rows the channel list shows. "Show all" lists every channel
// in band order; otherwise only those with signal, or, when none has any, the few strongest
// so a weak ensemble can still be tried.
inline constexpr std::size_t kFewestDABChannels = 4;
std::vector<std::size_t> shownDABChannels(std::span<const DABScanResult> results, bool showAll);

// A frame of differential QPSK points (any scale). Their phases sit near ±45° and ±135°.
struct ConstellationStats {
    std::size_t count = 0;
    float rmsRadius = 0.0f;  // in the points' own units; the view scales by it
    float spreadDeg = 0.0f;  // RMS distance of each phase from the nearest of the four
    bool operator==(const ConstellationStats&) const = default;
};
ConstellationStats constellationStats(std::span<const DABConstellationPoint> points);
// Below this spread the four clusters stand clearly apart (each is 90° from its neighbours).
inline constexpr float kClearConstellationSpreadDeg = 20.0f;

// The now-playing header's second line: DL Plus "Artist – Title" when both are known, else
// whichever one is, else nothing (the dynamic label itself then carries the text).
std::optional<std::string> dlPlusLine(const std::optional<std::string>& artist,
                                      const std::optional<std::string>& title);

// The largest size of a width × height picture inside a box, keeping its shape; zero for an
// empty picture or box.
struct PictureFit {
    float width = 0.0f;
    float height = 0.0f;
    bool operator==(const PictureFit&) const = default;
};
PictureFit fitPicture(int pictureWidth, int pictureHeight, float boxWidth, float boxHeight);

// The stream is locked once an ensemble has been acquired: its label is known and the FIC
// passes CRCs. Before that the header reads "ACQUIRING".
bool isDABLocked(const std::string& ensembleLabel, int ficCRCCount);
