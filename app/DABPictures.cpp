#include "DABPictures.h"

#include "PictureFile.h"

DABPictures::Slot DABPictures::load(const std::filesystem::path& path) {
    Slot slot;
    if (const std::optional<RGBAPicture> picture = loadPictureFile(path)) {
        slot.texture.emplace();
        slot.texture->upload(picture->width, picture->height, picture->rgba, /*smooth=*/true);
    }
    return slot;
}

const GLTexture* DABPictures::logo(const std::filesystem::path& path) {
    auto it = logos.find(path);
    if (it == logos.end()) it = logos.emplace(path, load(path)).first;
    return it->second.texture ? &*it->second.texture : nullptr;
}

const GLTexture* DABPictures::slideshow(const std::optional<std::filesystem::path>& path, int count) {
    if (!path) {
        slide = {};
        slidePath.reset();
        slideCount = -1;
        return nullptr;
    }
    if (path != slidePath || count != slideCount) {
        slide = load(*path);
        slidePath = path;
        slideCount = count;
    }
    return slide.texture ? &*slide.texture : nullptr;
}

std::optional<int> DABPictures::slideshowShown() const {
    if (!slide.texture) return std::nullopt;
    return slideCount;
}
