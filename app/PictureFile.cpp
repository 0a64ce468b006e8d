#include "PictureFile.h"

#include <stb_image.h>

#include <memory>

namespace {

struct StbFree {
    void operator()(stbi_uc* pixels) const noexcept { stbi_image_free(pixels); }
};

}  // namespace

std::optional<RGBAPicture> loadPictureFile(const std::filesystem::path& path) {
    int w = 0, h = 0, channels = 0;
    const std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load(path.c_str(), &w, &h, &channels, 4));
    if (!pixels || w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) return std::nullopt;
    const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
    return RGBAPicture{.width = w, .height = h, .rgba = std::vector<std::uint8_t>(pixels.get(), pixels.get() + bytes)};
}
