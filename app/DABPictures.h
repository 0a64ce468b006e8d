#pragma once

#include <filesystem>
#include <map>
#include <optional>

#include "GLTexture.h"

// The DAB views' pictures as textures: station logos by file and the newest slideshow image.
// A file is read once; one that cannot be read is remembered and not retried every frame.
// The slideshow is read again whenever its count changes, since a new image may reuse the
// same path. Main (GL) thread.
class DABPictures {
public:
    // The logo's texture, or nullptr when the file is not a picture.
    const GLTexture* logo(const std::filesystem::path& path);
    // The slideshow image for the stream's count of images so far; nullptr when there is none.
    const GLTexture* slideshow(const std::optional<std::filesystem::path>& path, int count);

    std::size_t logosHeld() const { return logos.size(); }
    // The count whose image is shown, for the state file.
    std::optional<int> slideshowShown() const;

private:
    struct Slot {
        std::optional<GLTexture> texture{};  // absent: the file could not be read
    };
    static Slot load(const std::filesystem::path& path);

    std::map<std::filesystem::path, Slot> logos;
    Slot slide;
    std::optional<std::filesystem::path> slidePath;
    int slideCount = -1;
};
