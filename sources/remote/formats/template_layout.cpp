// {z}/{x}/{y} templates: the picture's size, level count and tile side come from the options, the finest
// level being z = levels - 1. {-y} counts rows from the bottom of the level's grid (TMS).
#include "tile_layout.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

void replaceAll(std::string& text, const std::string& key, const std::string& value) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
}

}  // namespace

bool templateLayout(const std::string& url, const OpenOptions& options, TileLayout& layout,
                    std::string& error) {
    const bool flipped = url.find("{-y}") != std::string::npos;
    if (url.find("{z}") == std::string::npos || url.find("{x}") == std::string::npos ||
        (url.find("{y}") == std::string::npos && !flipped)) {
        error = "a tile template needs {z}, {x} and {y} (or {-y})";
        return false;
    }
    if (options.templateWidth == 0 || options.templateHeight == 0 || options.templateLevels == 0) {
        error =
            "a {z}/{x}/{y} template says nothing of the picture's size: give its width, height and level "
            "count (OpenOptions templateWidth, templateHeight, templateLevels)";
        return false;
    }
    if (options.templateLevels > zelvan::kMaxLevels || options.templateTileSize < kMinTileSide ||
        options.templateTileSize > kMaxTileSide) {
        error = "a tile template's levels must be 1 to 64 and its tile side 64 to 2048";
        return false;
    }
    layout = TileLayout();
    layout.format = flipped ? "tms" : "xyz";
    layout.width = options.templateWidth;
    layout.height = options.templateHeight;
    for (std::size_t k = 0; k < options.templateLevels; ++k) {
        GridLevel g;
        g.width = zelvan::levelSide(layout.width, k);
        g.height = zelvan::levelSide(layout.height, k);
        g.tileWidth = g.tileHeight = options.templateTileSize;
        layout.levels.push_back(g);
    }
    const std::vector<GridLevel> levels = layout.levels;
    const std::size_t finest = options.templateLevels - 1;
    layout.tileUrl = [=](std::size_t level, std::uint32_t column, std::uint32_t row) {
        const GridLevel& g = levels[level];
        std::string tile = url;
        replaceAll(tile, "{z}", std::to_string(finest - level));
        replaceAll(tile, "{x}", std::to_string(column));
        replaceAll(tile, "{y}", std::to_string(row));
        const std::uint32_t rows = (g.height + g.tileHeight - 1) / g.tileHeight;
        replaceAll(tile, "{-y}", std::to_string(rows - 1 - row));
        return tile;
    };
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
