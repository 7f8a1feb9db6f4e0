#pragma once
#include <cstdint>

#include "block_image.h"

namespace zelvan {

// Placement setters: they change only the record and make no OpenGL call.
void setAlpha(BlockImage& image, std::uint8_t alpha) noexcept;
void setTranslation(BlockImage& image, float x, float y, float z) noexcept;
void setRotation(BlockImage& image, float x, float y, float z) noexcept;
// With asSize, x and y are the size in units of the whole image (each at least 1).
void setScale(BlockImage& image, float x, float y, bool asSize) noexcept;

// Draws the image into the current matrix as one blended, textured quad per block.
// Makes no OpenGL call for an empty image or a block list that does not match the grid.
void drawImage(const BlockImage& image) noexcept;

// One quad with the block's top-left corner at the origin of the current frame.
void drawBlock(const BlockImage& image, const Block& block) noexcept;

}  // namespace zelvan
