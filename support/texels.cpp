#include "texels.h"

namespace zelvan_support {

std::vector<std::uint8_t> patternBytes(std::size_t count, unsigned seed) {
    std::vector<std::uint8_t> bytes(count);
    // 131 is odd, so bytes up to 255 apart differ; i >> 8 shifts each run of 256 against the last.
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 131 + seed * 17 + (i >> 8));
    return bytes;
}

GLuint boundTexture() {
    GLint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return static_cast<GLuint>(name);
}

}  // namespace zelvan_support
