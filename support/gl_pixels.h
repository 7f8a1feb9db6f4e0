#pragma once
// Reading back what OpenGL holds, and a known drawing set-up, for tests, benchmarks and the fuzzer.
// All need a current context.
#include <cstdint>
#include <vector>

namespace zelvan_support {

// RGBA bytes of pixel (x, y) of the current framebuffer, y from the bottom.
struct Rgba {
    std::uint8_t r, g, b, a;
};
Rgba readPixel(int x, int y);

// The RGBA texels of level 0 of the texture bound to GL_TEXTURE_2D, row 0 first.
std::vector<std::uint8_t> readBoundTexture(int* width = nullptr, int* height = nullptr);

// Resets the current context to a known drawing set-up: viewport and glOrtho(0, w, 0, h, -1, 1),
// identity model-view, clear colour, cleared framebuffer.
void setUpOrtho(int width, int height, float r = 0, float g = 0, float b = 0, float a = 1);

}  // namespace zelvan_support
