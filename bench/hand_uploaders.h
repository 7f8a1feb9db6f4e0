#pragma once
// The uploaders a user would write by hand, the baselines of the upload benchmarks.
#include <GL/gl.h>

#include <cstdint>
#include <vector>

#include "blocks/block_image.h"

namespace zelvan_bench {

// A caller's blue-green-red-alpha image in one buffer, filled with a varied pattern.
struct SourceImage {
    SourceImage(std::uint32_t width, std::uint32_t height);
    const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const {
        return bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch) +
               std::size_t{x} * 4;
    }
    std::uint32_t width, height;
    std::int32_t pitch;
    std::vector<std::uint8_t> bytes;
};

// Without the OpenGL 1.1 limit: a new power-of-two texture filled with GL_BGRA straight from the
// caller's memory, GL_UNPACK_ROW_LENGTH giving the pitch. A partial block is first allocated
// empty, then its pixels are written with glTexSubImage2D (the whole texture would read past it).
GLuint uploadBgraNew(const zelvan::Block& block, const SourceImage& image);

// The same user reloading: glTexSubImage2D into the block's existing texture.
void uploadBgraInto(GLuint texture, const zelvan::Block& block, const SourceImage& image);

// The plain OpenGL 1.1 algorithm in three passes over a staging buffer: fill with 0x40, copy the
// rows, exchange red and blue byte by byte; then the same calls as the library (a new texture,
// the previous one deleted, errors drained). Returns the new texture.
GLuint uploadThreePass(GLuint previous, const zelvan::Block& block, const SourceImage& image);

// What the library's reload would cost if it could keep the texture: the same staging pass, then
// glTexSubImage2D (OpenGL 1.1) into the block's existing texture instead of a new one.
void uploadStagedInto(GLuint texture, const zelvan::Block& block, const SourceImage& image);

// Deletes every name in textures and empties it.
void deleteTextures(std::vector<GLuint>& textures);

}  // namespace zelvan_bench
