#pragma once
// For tests of the internals: the staging buffer an upload must hand OpenGL, made the obvious way.
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "blocks/block_image.h"

namespace zelvan_test {

// Fills the whole texture with 0x40, copies the block's rows pitch bytes apart from pixels, then
// exchanges bytes 0 and 2 of every texel.
inline std::vector<std::uint8_t> referenceStaging(const zelvan::Block& block, const std::uint8_t* pixels,
                                                  std::int64_t pitch) {
    const std::size_t texelRow = std::size_t{block.textureWidth} * 4;
    std::vector<std::uint8_t> staging(texelRow * block.textureHeight, 0x40);
    for (std::uint32_t r = 0; r < block.height; ++r)
        std::memcpy(staging.data() + r * texelRow, pixels + r * pitch, std::size_t{block.width} * 4);
    for (std::size_t i = 0; i < staging.size(); i += 4) std::swap(staging[i], staging[i + 2]);
    return staging;
}

}  // namespace zelvan_test
