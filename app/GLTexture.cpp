#include "GLTexture.h"

#include <GL/gl.h>

#include <cassert>
#include <cstdint>
#include <utility>

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

GLTexture::~GLTexture() {
    if (id != 0) glDeleteTextures(1, &id);
}

GLTexture::GLTexture(GLTexture&& other) noexcept
    : id(std::exchange(other.id, 0)), width(other.width), height(other.height) {}

GLTexture& GLTexture::operator=(GLTexture&& other) noexcept {
    if (this != &other) {
        if (id != 0) glDeleteTextures(1, &id);
        id = std::exchange(other.id, 0);
        width = other.width;
        height = other.height;
    }
    return *this;
}

void GLTexture::upload(int w, int h, std::span<const std::uint8_t> rgba, bool smooth) {
    assert(rgba.size() >= static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    if (w <= 0 || h <= 0) return;
    if (id == 0) glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    const GLint filter = smooth ? GL_LINEAR : GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (w == width && h == height) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        width = w;
        height = h;
    }
}

ImTextureID GLTexture::textureID() const {
    return reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(id));
}
