#pragma once

#include <imgui.h>

#include <cstdint>
#include <span>

// One RGBA8 OpenGL texture, owned (deleted with the object). Main (GL) thread only.
class GLTexture {
public:
    GLTexture() = default;
    ~GLTexture();
    GLTexture(const GLTexture&) = delete;
    GLTexture& operator=(const GLTexture&) = delete;
    GLTexture(GLTexture&& other) noexcept;
    GLTexture& operator=(GLTexture&& other) noexcept;

    // Replaces the picture; `rgba` holds width × height × 4 bytes, top row first.
    void upload(int width, int height, std::span<const std::uint8_t> rgba, bool smooth);
    bool isValid() const { return id != 0 && width > 0 && height > 0; }
    ImTextureID textureID() const;
    int pixelWidth() const { return width; }
    int pixelHeight() const { return height; }

private:
    unsigned int id = 0;
    int width = 0;
    int height = 0;
};
