#include "block_image.h"

#include <new>
#include <stdexcept>

#include "opengl.h"

namespace zelvan {

std::uint32_t nextPowerOfTwo(std::uint32_t n) {
    std::uint32_t value = 1;
    while (value < n && value <= UINT32_MAX / 2) value *= 2;
    return value;
}

namespace {

void appendRow(BlockImage& image, std::uint32_t y, std::uint32_t height, std::uint32_t textureHeight,
               std::uint32_t fullCols, std::uint32_t blockWidth, std::uint32_t remW, std::uint32_t texRemW) {
    for (std::uint32_t col = 0; col < fullCols; ++col)
        image.blocks.push_back(Block{0, col * blockWidth, y, blockWidth, height, blockWidth, textureHeight});
    if (remW != 0)
        image.blocks.push_back(Block{0, fullCols * blockWidth, y, remW, height, texRemW, textureHeight});
}

void writeIfWanted(std::uint32_t* target, std::uint32_t value) noexcept {
    if (target != nullptr) *target = value;
}

}  // namespace

BlockImage layoutBlocks(std::uint32_t width, std::uint32_t height, std::uint32_t blockWidth,
                        std::uint32_t blockHeight) {
    const std::uint32_t fullCols = width / blockWidth, remW = width % blockWidth;
    const std::uint32_t fullRows = height / blockHeight, remH = height % blockHeight;

    BlockImage image;
    image.width = width;
    image.height = height;
    image.hasPartialColumn = remW != 0;
    image.hasPartialRow = remH != 0;
    image.hBlocks = fullCols + (image.hasPartialColumn ? 1 : 0);
    image.vBlocks = fullRows + (image.hasPartialRow ? 1 : 0);

    // 64-bit count: the product of two 32-bit counts overflows 32 bits for absurd sizes.
    const std::uint64_t count = std::uint64_t{image.hBlocks} * image.vBlocks;
    if (count > image.blocks.max_size()) throw std::length_error("block list too long");
    image.blocks.reserve(static_cast<std::size_t>(count));

    const std::uint32_t texRemW = nextPowerOfTwo(remW), texRemH = nextPowerOfTwo(remH);
    for (std::uint32_t row = 0; row < fullRows; ++row)
        appendRow(image, row * blockHeight, blockHeight, blockHeight, fullCols, blockWidth, remW, texRemW);
    if (remH != 0)
        appendRow(image, fullRows * blockHeight, remH, texRemH, fullCols, blockWidth, remW, texRemW);
    return image;
}

bool blockDimensions(const BlockImage& image, std::uint32_t row, std::uint32_t col, std::uint32_t* x,
                     std::uint32_t* y, std::uint32_t* width, std::uint32_t* height) noexcept {
    if (!image.contains(row, col)) return false;
    const Block& block = image.blockAt(row, col);
    writeIfWanted(width, block.width);
    writeIfWanted(height, block.height);
    writeIfWanted(x, block.x);
    writeIfWanted(y, block.y);
    return true;
}

void releaseTextures(BlockImage& image) noexcept {
    for (Block& block : image.blocks) {
        if (block.texture == 0) continue;
        const GLuint name = block.texture;
        glDeleteTextures(1, &name);
        block.texture = 0;
    }
}

}  // namespace zelvan
