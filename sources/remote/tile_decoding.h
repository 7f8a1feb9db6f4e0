#pragma once
// A fetched tile's bytes (JPEG, PNG, WebP, JPEG 2000, whatever libvips reads) decoded into 8-bit
// blue-green-red-alpha pixels, on the calling thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

struct DecodedTile {
    std::uint32_t width = 0, height = 0;
    std::vector<unsigned char> pixels;  // width * 4 bytes a row
};

// What a fetched tile may be, and what it is made.
struct TileShape {
    std::uint32_t width = 0, height = 0;  // declared: the largest tile asked for
    std::uint32_t slack = 0;              // pixels past the declared sides still taken (servers' rounding)
    // Non-zero when the tile is a region drawn at the size asked (IIIF): a tile larger than this, by the
    // server's rounding, is that region still, and is scaled down to this size.
    std::uint32_t fitWidth = 0, fitHeight = 0;
};

// Decodes `data`; false with a few words of reason when it is no picture, or is more than `shape.slack`
// pixels wider or taller than declared (found from its header, before any pixel is decoded). Throws
// std::bad_alloc.
bool decodeTile(const unsigned char* data, std::size_t size, const TileShape& shape, DecodedTile& tile,
                std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
