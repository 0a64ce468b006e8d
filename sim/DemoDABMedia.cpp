#include "sim/DemoDABMedia.h"

#include <cmath>

#include "sim/SimPicture.h"

namespace {
constexpr int kWindowSuperframes = 80;  // 9.6 s of 120 ms super-frames
constexpr int kSlideWidth = 160;
constexpr int kSlideHeight = 120;
constexpr int kSlideJPEGQuality = 80;
constexpr std::uint16_t kFirstSlideTransportId = 0x2001;

struct LogoStyle {
    SimRGBA field, ring, letters;
    const char* initials;
};

std::vector<std::uint8_t> drawLogo(const LogoStyle& s) {
    constexpr int kSize = 128;
    SimPicture p(kSize, kSize, {0, 0, 0, 0});  // transparent outside the emblem
    p.fillRing(64.0, 64.0, 0.0, 62.0, s.ring);
    p.fillRing(64.0, 64.0, 0.0, 54.0, s.field);
    // Three short bars like a signal meter above the initials.
    for (int k = 0; k < 3; ++k) p.fillRect(50 + 10 * k, 38 - 6 * k, 7, 12 + 6 * k, s.letters);
    const int scale = 5;
    p.drawText((kSize - SimPicture::textWidth(s.initials, scale)) / 2, 58, scale, s.initials, s.letters);
    return p.encodePNG();
}

std::vector<std::uint8_t> drawSlide(int index, SimRGBA background, SimRGBA accent, const char* caption) {
    SimPicture p(kSlideWidth, kSlideHeight, background);
    p.fillRing(40.0 + 40.0 * index, 48.0, 18.0, 30.0, accent);
    p.fillRect(0, 92, kSlideWidth, 28, {20, 20, 30, 255});
    p.drawText((kSlideWidth - SimPicture::textWidth(caption, 2)) / 2, 99, 2, caption, {255, 255, 255, 255});
    const std::string number = std::to_string(index + 1);
    p.drawText(130, 10, 3, number, {255, 255, 255, 255});
    return p.encodeJPEG(kSlideJPEGQuality);
}
}  // namespace

std::size_t demoDABPADWindowAt(const DemoDABPAD& pad, std::chrono::duration<double> streamTime) {
    const auto w = static_cast<std::size_t>(std::floor(streamTime / pad.window));
    return w % pad.labels.size();
}

std::chrono::milliseconds demoDABPADPeriod(const DemoDABPAD& pad) {
    return pad.window * static_cast<long>(dabTxPADCycleWindows(pad.carousel));
}

DemoDABPAD demoDABPAD() {
    struct Song {
        const char* artist;
        const char* title;
        const char* caption;
        SimRGBA background, accent;
    };
    const Song songs[] = {
        {"Đuro Ćosić", "Šuma", "RADIO SIBENIK", {30, 90, 160, 255}, {250, 200, 40, 255}},
        {"Žana Đurđević", "Čežnja", "NOVI HITOVI", {150, 40, 60, 255}, {240, 240, 240, 255}},
        {"Ivo Šćepanović", "Ljeto u Đakovu", "LJETO 2026", {30, 130, 70, 255}, {250, 120, 30, 255}},
    };
    DemoDABPAD pad;
    pad.window = std::chrono::milliseconds(kWindowSuperframes * 120);
    pad.carousel.windowSuperframes = kWindowSuperframes;
    int index = 0;
    for (const Song& s : songs) {
        const DABTxDynamicLabelMessage label = dabTxArtistTitleLabel("Sada svira: ", s.artist, " - ", s.title);
        pad.labels.push_back({.text = label.text, .artist = s.artist, .title = s.title});
        const std::string name = "slide" + std::to_string(index + 1) + ".jpg";
        pad.slides.push_back({.name = name,
                              .contentSubtype = kMOTImageJPEG,
                              .bytes = drawSlide(index, s.background, s.accent, s.caption)});
        pad.carousel.windows.push_back(
            {.label = label,
             .slide = MOTTxObject{.transportId = static_cast<std::uint16_t>(kFirstSlideTransportId + index),
                                  .contentName = name,
                                  .contentSubtype = kMOTImageJPEG,
                                  .body = pad.slides.back().bytes,
                                  .triggerNow = true}});
        ++index;
    }
    return pad;
}

std::vector<std::uint8_t> demoDABLogoPNG(const std::string& channel) {
    if (channel == "12C")
        return drawLogo({.field = {20, 60, 140, 255}, .ring = {250, 200, 40, 255}, .letters = {255, 255, 255, 255},
                         .initials = "SV"});
    if (channel == "5C")
        return drawLogo({.field = {30, 120, 60, 255}, .ring = {230, 230, 230, 255}, .letters = {255, 230, 80, 255},
                         .initials = "SI"});
    return {};
}
