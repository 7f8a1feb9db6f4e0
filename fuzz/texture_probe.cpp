#include "texture_probe.h"

#include <cstdio>
#include <vector>

#include "gl_pixels.h"

namespace zelvan_fuzz {

bool isTexture(GLuint name) { return glIsTexture(name) == GL_TRUE; }

UnpackState readUnpackState() {
    UnpackState state;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &state.alignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &state.rowLength);
    glGetIntegerv(GL_UNPACK_SKIP_ROWS, &state.skipRows);
    glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &state.skipPixels);
    return state;
}

void applyUnpackState(const UnpackState& state) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, state.alignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, state.rowLength);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, state.skipRows);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, state.skipPixels);
}

std::string checkUploadedTexture(const ModelBlock& block, const std::uint8_t* pixels, std::int32_t pitch,
                                 std::uint32_t probeX, std::uint32_t probeY) {
    int width = 0, height = 0;
    const std::vector<std::uint8_t> texels = zelvan_support::readBoundTexture(&width, &height);
    char why[160];
    if (static_cast<std::uint32_t>(width) != block.textureWidth ||
        static_cast<std::uint32_t>(height) != block.textureHeight) {
        std::snprintf(why, sizeof why, "texture is %dx%d, expected %ux%u", width, height, block.textureWidth,
                      block.textureHeight);
        return why;
    }
    struct Probe {
        std::uint32_t x, y;
    };
    const Probe probes[] = {{0, 0},
                            {block.width - 1, block.height - 1},
                            {probeX % block.width, probeY % block.height},
                            {block.textureWidth - 1, block.textureHeight - 1}};
    for (const Probe& p : probes) {
        const std::uint8_t* texel = &texels[(std::size_t{p.y} * block.textureWidth + p.x) * 4];
        std::uint8_t expected[4] = {0x40, 0x40, 0x40, 0x40};  // padding outside the block's pixels
        if (p.x < block.width && p.y < block.height) {
            const std::uint8_t* source =
                pixels + static_cast<std::int64_t>(p.y) * pitch + std::size_t{p.x} * 4;
            expected[0] = source[2];  // blue-green-red-alpha becomes red-green-blue-alpha
            expected[1] = source[1];
            expected[2] = source[0];
            expected[3] = source[3];
        }
        for (int i = 0; i < 4; ++i) {
            if (texel[i] == expected[i]) continue;
            std::snprintf(why, sizeof why, "texel (%u, %u) byte %d is 0x%02x, expected 0x%02x", p.x, p.y, i,
                          texel[i], expected[i]);
            return why;
        }
    }
    return {};
}

}  // namespace zelvan_fuzz
