#pragma once
// The OpenGL calls one ZelvanDraw makes, in the GL recorder's notation: the state it sets, the turn
// and the move to the top-left corner, then one textured quad per block, row by row.
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan_support {

struct DrawnBlock {
    std::uint32_t width = 0, height = 0;                // pixels of the image it covers
    std::uint32_t textureWidth = 0, textureHeight = 0;  // the power-of-two texture that holds them
    std::uint32_t texture = 0;                          // the name bound; 0 when never uploaded
};

struct DrawnImage {
    std::uint32_t width = 0, height = 0, hBlocks = 0, vBlocks = 0;
    std::vector<DrawnBlock> blocks;  // row by row, hBlocks to a row
    float translation[3] = {0, 0, 0};
    float rotation[3] = {0, 0, 0};
    float scaleX = 1, scaleY = 1;
    std::uint8_t alpha = 255;
};

// Empty for an image of width or height 0, which is never drawn.
std::vector<std::string> expectedDrawCalls(const DrawnImage& image);

}  // namespace zelvan_support
