#pragma once
// What the fuzzer asks OpenGL directly (never through the GL recorder's wrappers): whether a name
// is a live texture, the uploaded texels and the caller's unpack state.
#include <GL/gl.h>

#include <cstdint>
#include <string>

#include "reference_model.h"

namespace zelvan_fuzz {

bool isTexture(GLuint name);

struct UnpackState {
    GLint alignment = 4, rowLength = 0, skipRows = 0, skipPixels = 0;
    bool operator==(const UnpackState& o) const {
        return alignment == o.alignment && rowLength == o.rowLength && skipRows == o.skipRows &&
               skipPixels == o.skipPixels;
    }
};
UnpackState readUnpackState();
void applyUnpackState(const UnpackState& state);

// Checks the texture bound to GL_TEXTURE_2D against block uploaded from pixels with pitch: its
// size, texel (probeX, probeY) of the block, both corners of the block and the padding's last
// texel. Returns an empty string when all match, otherwise what differs.
std::string checkUploadedTexture(const ModelBlock& block, const std::uint8_t* pixels, std::int32_t pitch,
                                 std::uint32_t probeX, std::uint32_t probeY);

}  // namespace zelvan_fuzz
