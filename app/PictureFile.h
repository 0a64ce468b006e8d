#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

// A picture read from disk (PNG or JPEG, as station logos and slideshow images arrive) as
// RGBA8 pixels, top row first. Any thread.
struct RGBAPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba{};
};

// Pictures wider or taller than this are refused rather than uploaded as huge textures.
inline constexpr int kMaxPictureSide = 2048;

// Absent when the file is missing, not a picture stb_image reads, or too large.
std::optional<RGBAPicture> loadPictureFile(const std::filesystem::path& path);
