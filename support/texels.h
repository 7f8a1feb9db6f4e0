#pragma once
// What tests upload and which texture they find bound: source bytes that tell positions apart, and
// the name bound to GL_TEXTURE_2D (read directly; glGetIntegerv is not recorded).
#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvan_support {

// count bytes in which neighbours, and bytes a row or a pixel apart, differ, so a byte read from the
// wrong place does not match by chance; another seed gives other bytes.
std::vector<std::uint8_t> patternBytes(std::size_t count, unsigned seed);

GLuint boundTexture();

}  // namespace zelvan_support
