#pragma once
#include <cstdint>
#include <vector>

#include "zelvan.h"

namespace zelvan {

struct Float3 {
    float x, y, z;
};

// One block of an image and the texture that holds its pixels.
struct Block {
    std::uint32_t texture = 0;  // OpenGL texture name; 0 = nothing uploaded yet
    std::uint32_t x = 0;        // left edge in the image
    std::uint32_t y = 0;        // top edge in the image
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t textureWidth = 0;   // power of two >= width
    std::uint32_t textureHeight = 0;  // power of two >= height
};

// An image record: its block grid (row-major) and its placement.
struct BlockImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t hBlocks = 0;  // block columns
    std::uint32_t vBlocks = 0;  // block rows
    bool hasPartialColumn = false;
    bool hasPartialRow = false;
    std::vector<Block> blocks;
    Float3 translation{0.0f, 0.0f, 0.0f};
    Float3 rotation{0.0f, 0.0f, 0.0f};  // degrees about X, Y, Z
    Float3 scale{1.0f, 1.0f, 1.0f};
    std::uint8_t alpha = 255;

    bool contains(std::uint32_t row, std::uint32_t col) const { return row < vBlocks && col < hBlocks; }
    Block& blockAt(std::uint32_t row, std::uint32_t col) {
        return blocks[static_cast<std::size_t>(row) * hBlocks + col];
    }
    const Block& blockAt(std::uint32_t row, std::uint32_t col) const {
        return blocks[static_cast<std::size_t>(row) * hBlocks + col];
    }
};

constexpr std::uint32_t kBlockSize = ZELVAN_BLOCK_SIZE;

// Smallest power of two >= n (1 for n = 0). Only called with values below the block size.
std::uint32_t nextPowerOfTwo(std::uint32_t n);

// Cuts a width x height image into blocks of at most blockWidth x blockHeight (both non-zero).
// The whole block list is reserved before it is filled, so an impossible size fails at once
// with std::bad_alloc or std::length_error.
BlockImage layoutBlocks(std::uint32_t width, std::uint32_t height, std::uint32_t blockWidth,
                        std::uint32_t blockHeight);

// The block query behind ZelvanGetBlockDem: writes block (row, col)'s width, height, left and top
// edge to those of the four pointers that are not null. False, writing nothing, outside the grid.
bool blockDimensions(const BlockImage& image, std::uint32_t row, std::uint32_t col, std::uint32_t* x,
                     std::uint32_t* y, std::uint32_t* width, std::uint32_t* height) noexcept;

// Deletes every texture the image holds and zeroes the names; calls no OpenGL function when
// the image holds none.
void releaseTextures(BlockImage& image) noexcept;

}  // namespace zelvan
