#pragma once
#include <cstdint>

#include "block_image.h"

namespace zelvan {

// Fills the texels of one block's staging buffer (textureWidth x textureHeight x 4 bytes): the
// block's pixels at the top left with red and blue exchanged, every other byte 0x40.
void prepareStaging(std::uint8_t* staging, const Block& block, const std::uint8_t* pixels,
                    std::int32_t pitch) noexcept;

// Uploads block (row, col) of image from the caller's blue-green-red-alpha pixels into a new
// texture, deleting the block's previous one. False, with no OpenGL call, for a row or column
// outside the grid, null pixels, a pitch below 1, or no memory for the staging buffer. False, with
// the block's previous texture kept, when there is no context or OpenGL refuses the upload.
bool uploadBlock(BlockImage& image, std::uint32_t row, std::uint32_t col, const void* pixels,
                 std::int32_t pitch) noexcept;

// Reads and discards every pending OpenGL error, stopping after kMaxErrorReads reads.
constexpr int kMaxErrorReads = 64;
struct DrainResult {
    bool sawError = false;   // at least one error was pending
    bool exhausted = false;  // the bound was reached with errors still coming: a lost context
};
DrainResult drainGlErrors() noexcept;

}  // namespace zelvan
