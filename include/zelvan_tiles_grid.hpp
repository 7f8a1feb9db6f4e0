/*
 * The tile view's grid, free of OpenGL: the picture's levels and tiles, where each level's texels lie
 * on the picture, and the parts a tile is held in, with their texture bytes. zelvan_tiles_plan.hpp plans
 * frames over it.
 *
 * Coordinates: a level's pixels are counted from its top-left corner, x to the right, y downwards. Tiles
 * sit on a grid of 512 x 512 of each level, so a tile is one Zelvan block. Level k's texels lie at exactly
 * 2^k level-0 pixels whatever the rounding of the source's level sizes: only the last texel of a row or
 * column is shorter (rounded up) or longer (rounded down), reaching the picture's edge. A level whose
 * size is no halving of level 0 is stretched evenly over the picture instead.
 *
 * A tile is held as parts (same texture bytes as the whole tile, power-of-two sides): its quarters of
 * 256 x 256, so that one quarter of a coarser tile stands in for exactly the one finer tile it covers
 * while that is missing; and, at the level's right and bottom edges, the last texel column or row on
 * its own, drawn at its own width.
 */
#ifndef ZELVAN_TILES_GRID_HPP
#define ZELVAN_TILES_GRID_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zelvan.h"
#include "zelvan_levels.hpp"
#include "zelvan_tiles_types.hpp"

namespace zelvan {

namespace detail {

constexpr std::uint32_t kTileSide = ZELVAN_BLOCK_SIZE;
constexpr std::uint32_t kQuarterSide = kTileSide / 2;

inline std::uint64_t nextPow2(std::uint64_t v) noexcept {
    std::uint64_t p = 1;
    while (p < v) p <<= 1;
    return p;
}

/* Level sizes a view can trust: 1 to 64 levels, none empty, none wider or higher than the one before. */
inline bool levelsMakeSense(const std::vector<TileSize>& levels) noexcept {
    if (levels.empty() || levels.size() > kMaxLevels) return false;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        if (levels[k].width == 0 || levels[k].height == 0) return false;
        if (k > 0 && (levels[k].width > levels[k - 1].width || levels[k].height > levels[k - 1].height))
            return false;
    }
    return true;
}

struct PixelRect {
    std::uint32_t x = 0, y = 0, width = 0, height = 0;
};

using zelvan::TileIndex;

/* One number per tile, for maps: a grid has at most 2^23 columns and rows, and at most 64 levels. */
inline std::uint64_t tileKey(const TileIndex& t) noexcept {
    return std::uint64_t{t.level} << 46 | std::uint64_t{t.row} << 23 | t.column;
}
inline TileIndex tileOfKey(std::uint64_t key) noexcept {
    TileIndex t;
    t.level = static_cast<std::uint32_t>(key >> 46);
    t.row = static_cast<std::uint32_t>(key >> 23 & 0x7fffff);
    t.column = static_cast<std::uint32_t>(key & 0x7fffff);
    return t;
}

inline std::uint32_t tilesAcross(std::uint32_t side) noexcept {
    return side / kTileSide + (side % kTileSide != 0);
}

inline PixelRect tileRect(TileSize level, std::uint32_t column, std::uint32_t row) noexcept {
    const std::uint32_t x = column * kTileSide, y = row * kTileSide;
    return {x, y, std::min(kTileSide, level.width - x), std::min(kTileSide, level.height - y)};
}

/* Level-0 pixels per pixel of a level (an even stretch, for levels that are no halving). */
inline double ratio(std::uint32_t full, std::uint32_t part) noexcept {
    return part == full ? 1.0 : static_cast<double>(full) / part;
}

/* A rectangle of level-0 pixels, fractional where a level's texels end inside a pixel. */
struct Area {
    double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    bool meets(const Area& o) const noexcept { return u0 < o.u1 && o.u0 < u1 && v0 < o.v1 && o.v0 < v1; }
    bool covers(const Area& o) const noexcept { return u0 <= o.u0 && v0 <= o.v0 && u1 >= o.u1 && v1 >= o.v1; }
};

/* Where the texels of one axis of a level lie on level 0's axis. */
struct LevelAxis {
    std::uint32_t size = 1, full = 1;
    double factor = 1;  // level-0 pixels per texel: a power of two, or the stretch full / size
    bool exact = true;  // factor is a power of two and size the halving of full, rounded up or down

    /* Level `level`'s axis: 2^level level-0 pixels a texel when its size is the halving of full, rounded
     * up or down; else stretched evenly. */
    static LevelAxis of(std::uint32_t size, std::uint32_t full, std::size_t level) noexcept {
        LevelAxis a;
        a.size = size;
        a.full = full;
        if (level == 0 && size == full) return a;
        const std::uint64_t f = level < 32 ? std::uint64_t{1} << level : std::uint64_t{1} << 32;
        a.exact = level > 0 && ((std::uint64_t{full} + f - 1) / f == size || std::uint64_t{full} / f == size);
        a.factor = a.exact ? static_cast<double>(f) : ratio(full, size);
        return a;
    }
    /* Level-0 position of texel boundary x (0 to size). */
    double at(std::uint64_t x) const noexcept {
        if (!exact) return static_cast<double>(x) * factor;
        return x >= size ? full : static_cast<double>(x) * factor;
    }
    /* Whether the last texel is not factor wide (it is cut at, or stretched to, the picture's edge). */
    bool partialLast() const noexcept { return exact && static_cast<double>(size) * factor != full; }
};

/* Every level's axes, for the whole view. */
class LevelGrid {
public:
    LevelGrid() = default;
    explicit LevelGrid(const std::vector<TileSize>& sizes) : sizes_(sizes) {
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            across_.push_back(LevelAxis::of(sizes[k].width, sizes[0].width, k));
            down_.push_back(LevelAxis::of(sizes[k].height, sizes[0].height, k));
        }
    }
    std::size_t count() const noexcept { return sizes_.size(); }
    TileSize size(std::size_t level) const noexcept { return sizes_[level]; }
    TileSize full() const noexcept { return sizes_[0]; }
    const LevelAxis& across(std::size_t level) const noexcept { return across_[level]; }
    const LevelAxis& down(std::size_t level) const noexcept { return down_[level]; }

    PixelRect tileRect(const TileIndex& t) const noexcept {
        return detail::tileRect(sizes_[t.level], t.column, t.row);
    }
    /* The level-0 area of a rectangle of a level's pixels: the one place it is computed. */
    Area area(std::size_t level, const PixelRect& r) const noexcept {
        return {across_[level].at(r.x), down_[level].at(r.y), across_[level].at(std::uint64_t{r.x} + r.width),
                down_[level].at(std::uint64_t{r.y} + r.height)};
    }
    Area tileArea(const TileIndex& t) const noexcept { return area(t.level, tileRect(t)); }

private:
    std::vector<TileSize> sizes_;
    std::vector<LevelAxis> across_, down_;
};

/* The parts a tile is held in: its quarters, each cut again before the level's last texel column or row
 * where that is partial, so that every part's texels are all one width. At most 9, row by row. */
struct TileParts {
    PixelRect rect[9];
    int count = 0;
};
inline TileParts tileParts(const LevelGrid& grid, const TileIndex& t) noexcept {
    const PixelRect tile = grid.tileRect(t);
    const auto cuts = [](std::uint32_t start, std::uint32_t length, std::uint32_t levelSize, bool partial,
                         std::uint32_t(&out)[4]) {
        int n = 0;
        out[n++] = start;
        if (length > kQuarterSide) out[n++] = start + kQuarterSide;
        const std::uint32_t end = start + length;
        if (partial && end == levelSize && end - 1 > out[n - 1]) out[n++] = end - 1;
        out[n] = end;
        return n;  // spans: out[i] to out[i + 1]
    };
    std::uint32_t xs[4], ys[4];
    const int columns =
        cuts(tile.x, tile.width, grid.size(t.level).width, grid.across(t.level).partialLast(), xs);
    const int rows =
        cuts(tile.y, tile.height, grid.size(t.level).height, grid.down(t.level).partialLast(), ys);
    TileParts parts;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            parts.rect[parts.count++] = {xs[c], ys[r], xs[c + 1] - xs[c], ys[r + 1] - ys[r]};
    return parts;
}

/* Texture bytes the library allocates for a tile held as its parts. */
inline std::size_t tileBytes(const LevelGrid& grid, const TileIndex& t) noexcept {
    const TileParts parts = tileParts(grid, t);
    std::uint64_t bytes = 0;
    for (int i = 0; i < parts.count; ++i)
        bytes += nextPow2(parts.rect[i].width) * nextPow2(parts.rect[i].height) * 4;
    return static_cast<std::size_t>(bytes);
}

/* The one-tile level: the finest whose sides both fit one tile (512), which the view pins when the budget
 * allows and whose raw samples its statistics read; grid.count() when no level comes down to one tile. */
inline std::size_t oneTileLevel(const LevelGrid& grid) noexcept {
    for (std::size_t k = 0; k < grid.count(); ++k)
        if (grid.size(k).width <= kTileSide && grid.size(k).height <= kTileSide) return k;
    return grid.count();
}

/* Texture bytes of a whole level. */
inline std::uint64_t levelBytes(const LevelGrid& grid, std::size_t level) {
    std::uint64_t bytes = 0;
    const TileSize s = grid.size(level);
    const std::uint32_t columns = tilesAcross(s.width), rows = tilesAcross(s.height);
    // Inner tiles are alike: one of them counted for all, then the last row and column.
    const auto at = [&](std::uint32_t c, std::uint32_t r) {
        return std::uint64_t{tileBytes(grid, {static_cast<std::uint32_t>(level), c, r})};
    };
    bytes += std::uint64_t{columns - 1} * (rows - 1) * at(0, 0);
    for (std::uint32_t c = 0; c + 1 < columns; ++c) bytes += at(c, rows - 1);
    for (std::uint32_t r = 0; r + 1 < rows; ++r) bytes += at(columns - 1, r);
    return bytes + at(columns - 1, rows - 1);
}

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_GRID_HPP */
