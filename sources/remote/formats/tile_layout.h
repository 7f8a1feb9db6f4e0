#pragma once
// How a server cuts its picture into tiles, in the tile view's levels: for each level (finest first, each
// half the one before) the grid of the server's tiles and the URL of each tile. The formats (IIIF, Deep
// Zoom, {z}/{x}/{y} templates) differ only in what they read to make this.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zelvan_levels.hpp"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

struct GridLevel {
    std::uint32_t width = 0, height = 0;          // the level
    std::uint32_t tileWidth = 0, tileHeight = 0;  // the server's tiles' pitch, in this level's pixels
    std::uint32_t overlap = 0;                    // pixels a tile carries past each inner edge (Deep Zoom)
};

struct TileLayout {
    std::string format;  // as PictureInfo says it
    std::uint32_t width = 0, height = 0;
    std::vector<GridLevel> levels;
    // Each tile is its region drawn at the size asked (IIIF), so one the server drew a little larger is
    // scaled to its place; otherwise a larger tile's extra pixels are padding, left unused.
    bool scaledRegions = false;
    std::function<std::string(std::size_t level, std::uint32_t column, std::uint32_t row)> tileUrl;
};

// Tile sides a layout may declare: small enough to decode in bounded memory, large enough that a level's
// grid stays within bounds.
constexpr std::uint32_t kMinTileSide = 64;
constexpr std::uint32_t kMaxTileSide = 2048;
// IIIF Image API 2 or 3 from the text of its info.json, fetched from `infoUrl`; false with a one-line
// reason when the text is not JSON or says no IIIF picture this reads. Throws nothing.
bool iiifLayout(const std::string& infoUrl, const std::string& infoText, TileLayout& layout,
                std::string& error);
// Deep Zoom from the text of its descriptor (XML, or its JSON form), fetched from `dziUrl`; false with a
// one-line reason. Throws nothing.
bool dziLayout(const std::string& dziUrl, const std::string& dziText, TileLayout& layout, std::string& error);
// A {z}/{x}/{y} template (with {-y}: rows from the bottom), sized by the options.
bool templateLayout(const std::string& url, const OpenOptions& options, TileLayout& layout,
                    std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
