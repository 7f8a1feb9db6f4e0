#include "hand_uploaders.h"

#include <cstring>
#include <memory>

#include "blocks/upload.h"

namespace zelvan_bench {

SourceImage::SourceImage(std::uint32_t w, std::uint32_t h)
    : width(w), height(h), pitch(static_cast<std::int32_t>(w * 4)), bytes(std::size_t{w} * h * 4) {
    // Every byte differs from its neighbours, so a misplaced byte would show in any read-back.
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
}

namespace {

void setUnpack(GLint rowLength) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
}

}  // namespace

GLuint uploadBgraNew(const zelvan::Block& block, const SourceImage& image) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    setUnpack(image.pitch / 4);
    const auto tw = static_cast<GLsizei>(block.textureWidth), th = static_cast<GLsizei>(block.textureHeight);
    const std::uint8_t* pixels = image.at(block.x, block.y);
    if (block.width == block.textureWidth && block.height == block.textureHeight) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, tw, th, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, tw, th, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(block.width),
                        static_cast<GLsizei>(block.height), GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    }
    setUnpack(0);
    return name;
}

void uploadBgraInto(GLuint texture, const zelvan::Block& block, const SourceImage& image) {
    glBindTexture(GL_TEXTURE_2D, texture);
    setUnpack(image.pitch / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(block.width),
                    static_cast<GLsizei>(block.height), GL_BGRA, GL_UNSIGNED_BYTE,
                    image.at(block.x, block.y));
    setUnpack(0);
}

GLuint uploadThreePass(GLuint previous, const zelvan::Block& block, const SourceImage& image) {
    const std::size_t texelRow = std::size_t{block.textureWidth} * 4;
    const std::size_t bytes = texelRow * block.textureHeight;
    std::unique_ptr<std::uint8_t[]> staging(new std::uint8_t[bytes]);
    std::memset(staging.get(), 0x40, bytes);
    for (std::uint32_t r = 0; r < block.height; ++r)
        std::memcpy(staging.get() + r * texelRow, image.at(block.x, block.y + r),
                    std::size_t{block.width} * 4);
    for (std::size_t i = 0; i < bytes; i += 4) {
        const std::uint8_t blue = staging[i];
        staging[i] = staging[i + 2];
        staging[i + 2] = blue;
    }

    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLfloat>(GL_NEAREST));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLfloat>(GL_NEAREST));
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    setUnpack(0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(block.textureWidth),
                 static_cast<GLsizei>(block.textureHeight), 0, GL_RGBA, GL_UNSIGNED_BYTE, staging.get());
    glPopClientAttrib();
    if (previous != 0) glDeleteTextures(1, &previous);
    while (glGetError() != GL_NO_ERROR) {
    }
    return name;
}

void uploadStagedInto(GLuint texture, const zelvan::Block& block, const SourceImage& image) {
    std::unique_ptr<std::uint8_t[]> staging(
        new std::uint8_t[std::size_t{block.textureWidth} * block.textureHeight * 4]);
    zelvan::prepareStaging(staging.get(), block, image.at(block.x, block.y), image.pitch);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    setUnpack(0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(block.textureWidth),
                    static_cast<GLsizei>(block.textureHeight), GL_RGBA, GL_UNSIGNED_BYTE, staging.get());
    glPopClientAttrib();
}

void deleteTextures(std::vector<GLuint>& textures) {
    if (!textures.empty()) glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
    textures.clear();
}

}  // namespace zelvan_bench
