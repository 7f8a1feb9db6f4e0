#include "upload.h"

#include <cstring>
#include <memory>
#include <new>

#include "opengl.h"
#include "swizzle.h"

namespace zelvan {

namespace {
constexpr std::uint8_t kFill = 0x40;
}

void prepareStaging(std::uint8_t* staging, const Block& block, const std::uint8_t* pixels,
                    std::int32_t pitch) noexcept {
    // One pass per row: exchange red and blue on the way into the staging buffer, then pad the row.
    const std::size_t texelRow = std::size_t{block.textureWidth} * 4;
    const std::size_t pixelRow = std::size_t{block.width} * 4;
    // The rows of a wide image lie pages apart, where the hardware prefetcher stops: then ask for
    // the row after next while this one is exchanged (a hint; it never faults). Rows closer together
    // stream on their own, and prefetching them only costs time.
    constexpr std::uint32_t kRowsAhead = 2;
    constexpr std::size_t kCacheLine = 64, kPage = 4096;
    const bool prefetch = static_cast<std::size_t>(pitch) > kPage;
    std::uint8_t* dst = staging;
    for (std::uint32_t r = 0; r < block.height; ++r, dst += texelRow) {
        // 64-bit offset: r * pitch exceeds 2^31 in images a few gigabytes large.
        const std::uint8_t* src = pixels + static_cast<std::uint64_t>(r) * static_cast<std::uint64_t>(pitch);
#if defined(__GNUC__) || defined(__clang__)
        if (prefetch && r + kRowsAhead < block.height) {
            const std::uint8_t* ahead = src + std::uint64_t{kRowsAhead} * static_cast<std::uint64_t>(pitch);
            for (std::size_t offset = 0; offset < pixelRow; offset += kCacheLine)
                __builtin_prefetch(ahead + offset);
        }
#endif
        copySwapRedBlue(dst, src, block.width);
        std::memset(dst + pixelRow, kFill, texelRow - pixelRow);
    }
    const std::size_t padRows = block.textureHeight - block.height;
    std::memset(dst, kFill, padRows * texelRow);
}

DrainResult drainGlErrors() noexcept {
    // A working context keeps one flag per kind of error, fewer than ten; a lost context may
    // report an error on every read, so the loop is bounded rather than left to hang the caller.
    DrainResult result;
    for (int read = 0; read < kMaxErrorReads; ++read) {
        if (glGetError() == GL_NO_ERROR) return result;
        result.sawError = true;
    }
    result.exhausted = true;
    return result;
}

bool uploadBlock(BlockImage& image, std::uint32_t row, std::uint32_t col, const void* pixels,
                 std::int32_t pitch) noexcept {
    if (!image.contains(row, col) || pixels == nullptr || pitch < 1) return false;
    Block& block = image.blockAt(row, col);

    const std::size_t bytes = std::size_t{block.textureWidth} * block.textureHeight * 4;
    std::unique_ptr<std::uint8_t[]> staging(new (std::nothrow) std::uint8_t[bytes]);
    if (!staging) return false;
    prepareStaging(staging.get(), block, static_cast<const std::uint8_t*>(pixels), pitch);

    // Errors the caller left pending are discarded first, so that any error read after the
    // upload's own calls is the upload's. A context that never runs dry of errors is lost.
    if (drainGlErrors().exhausted) return false;

    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return false;  // no current context, or a lost one: nothing to upload into
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLfloat>(GL_NEAREST));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLfloat>(GL_NEAREST));
    // Nearest sampling can land a hair past a block's edge; repeating would then show the texel
    // from the block's far side at every seam. With nearest filtering GL_CLAMP never reads the
    // border, so it clamps to the edge texel as GL_CLAMP_TO_EDGE (OpenGL 1.2) would.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    // The staging rows are tightly packed: read them so whatever unpack state the caller left.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(block.textureWidth),
                 static_cast<GLsizei>(block.textureHeight), 0, GL_RGBA, GL_UNSIGNED_BYTE, staging.get());
    glPopClientAttrib();

    const DrainResult own = drainGlErrors();
    if (own.sawError) {
        // OpenGL refused the texture (out of memory, a size beyond its limit, a lost context):
        // the block keeps the picture it had.
        glDeleteTextures(1, &name);
        return false;
    }
    if (block.texture != 0) {
        // A re-upload replaces the block's texture; the old one would otherwise leak.
        const GLuint previous = block.texture;
        glDeleteTextures(1, &previous);
    }
    block.texture = name;
    return true;
}

}  // namespace zelvan
