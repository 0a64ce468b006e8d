#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

struct SimRGBA {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const SimRGBA&) const = default;
};

// An RGBA pixel buffer the simulation draws station logos and slides into (filled shapes and a
// 5×7 capital-letter font, no anti-aliasing) and encodes as PNG or JPEG with stb_image_write.
// Drawing outside the buffer is clipped. Deterministic: the same drawing gives the same bytes.
class SimPicture {
public:
    SimPicture(int width, int height, SimRGBA background);

    int width() const { return w; }
    int height() const { return h; }
    SimRGBA at(int x, int y) const;

    void fillRect(int x, int y, int width, int height, SimRGBA colour);
    // Pixels whose centre lies within [inner, outer] of (cx, cy); inner 0 gives a disc.
    void fillRing(double cx, double cy, double inner, double outer, SimRGBA colour);
    // Capitals, digits, space, '-', '.' and ':'; other characters are left blank. Each glyph
    // cell is 6·scale wide and 7·scale high.
    void drawText(int x, int y, int scale, std::string_view text, SimRGBA colour);
    static int textWidth(std::string_view text, int scale) { return static_cast<int>(text.size()) * 6 * scale - scale; }

    std::vector<std::uint8_t> encodePNG() const;  // RGBA, 8 bits per channel
    std::vector<std::uint8_t> encodeJPEG(int quality) const;  // RGB baseline; alpha dropped

private:
    void set(int x, int y, SimRGBA c);
    int w, h;
    std::vector<std::uint8_t> pixels;  // RGBA rows, top first
};
