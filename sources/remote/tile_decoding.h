#pragma once
// A fetched tile's bytes (JPEG, PNG, WebP, JPEG 2000, whatever libvips reads) decoded into 8-bit
// blue-green-red-alpha pixels, on the calling thread: kept for the reads that share the tile, or written
// straight into the one read that takes it whole.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

struct DecodedTile {
    std::uint32_t width = 0, height = 0;
    // width * 4 bytes a row (left uninitialised until decoded); null when the tile was written into a
    // read's own pixels instead (TileTarget).
    std::unique_ptr<unsigned char[]> pixels;
    std::size_t bytes() const { return pixels ? std::size_t{width} * height * 4 : 0; }
};

// Where a read that takes a tile's content whole wants it: the rectangle of the (fitted) tile it takes,
// written into rows `pitch` bytes apart at `pixels`, so that the pixels are copied once, not kept.
struct TileTarget {
    std::uint32_t left = 0, top = 0, width = 0, height = 0;
    unsigned char* pixels = nullptr;
    std::size_t pitch = 0;
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
// pixels wider or taller than declared (found from its header, before any pixel is decoded). With a
// `target` the tile covers, only that rectangle is decoded, into the target, and `tile.pixels` is left
// null; else (no target, or a tile too small for it) the whole tile goes into `tile.pixels`. `tile`'s
// sides are the tile's either way. Throws std::bad_alloc.
bool decodeTile(const unsigned char* data, std::size_t size, const TileShape& shape, DecodedTile& tile,
                std::string& error, const TileTarget* target = nullptr);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
