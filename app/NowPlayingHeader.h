#pragma once

#include <functional>
#include <optional>
#include <string>

// The analog view's top strip: the favourite star, the frequency, the station name and radio
// text, the RDS and stereo badges and the signal meter. Main thread, stateless.
struct NowPlayingInput {
    double frequencyMHz = 0.0;
    std::optional<std::string> stationName{};
    std::optional<std::string> radioText{};
    // "Artist – Title" of the running item, from RadioText+; shown in place of the radio text.
    std::optional<std::string> nowPlaying{};
    bool hasRDS = false;
    bool isStereo = false;
    float channelLevelDB = -100.0f;  // dBFS
    float snrDB = 0.0f;
    bool isFavorite = false;
    std::function<void()> onToggleFavorite{};
    std::string modeText{};  // "WFM", "NFM", "AM"
};

class UIProbe;
void drawNowPlayingHeader(const NowPlayingInput& input, UIProbe& probe);
