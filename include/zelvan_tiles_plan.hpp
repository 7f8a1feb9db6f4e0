/*
 * The tile view's planning, free of OpenGL so that it can be tested on its own: the tile grid of each
 * level, which tiles a frame needs for any placement (turned ones included), where each piece of a tile
 * goes, which levels fit the texture budget, and the order in which missing tiles are read.
 *
 * Coordinates: a level's pixels are counted from its top-left corner, x to the right, y downwards; the
 * caller's units are those of its projection, y up. Tiles sit on a grid of 512 x 512 of each level, so a
 * tile is one Zelvan block; each tile is held as up to four quarters of 256 x 256 (same texture bytes as
 * the whole tile, power-of-two sides), so that one quarter of a coarser tile can stand in for exactly the
 * one finer tile it covers while that is missing.
 */
#ifndef ZELVAN_TILES_PLAN_HPP
#define ZELVAN_TILES_PLAN_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "zelvan.hpp"

namespace zelvan {

struct TileSize {
    std::uint32_t width = 0, height = 0;
};

/* One frame: the visible rectangle in the caller's units (y up, as under glOrtho(left, right, bottom,
 * top)) and the screen pixels per unit. */
struct Frame {
    double left = 0, bottom = 0, right = 0, top = 0;
    double pixelsPerUnit = 1;
};

namespace detail {

constexpr std::uint32_t kTileSide = ZELVAN_BLOCK_SIZE;
constexpr std::uint32_t kQuarterSide = kTileSide / 2;
constexpr std::size_t kMaxLevels = 64;  // 2^32 pixels a side halve to one in 33 levels

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

/* A tile: its level and its place in the level's grid. */
struct TileIndex {
    std::uint32_t level = 0, column = 0, row = 0;
};

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

/* Quarter q (0 top left, 1 top right, 2 bottom left, 3 bottom right) of a tile; width or height 0 where a
 * tile at the right or bottom edge is too small to have it. */
inline PixelRect quarterRect(const PixelRect& tile, int q) noexcept {
    const bool right = (q & 1) != 0, bottom = (q & 2) != 0;
    PixelRect r;
    r.x = tile.x + (right ? kQuarterSide : 0);
    r.y = tile.y + (bottom ? kQuarterSide : 0);
    r.width = right ? (tile.width > kQuarterSide ? tile.width - kQuarterSide : 0)
                    : std::min(tile.width, kQuarterSide);
    r.height = bottom ? (tile.height > kQuarterSide ? tile.height - kQuarterSide : 0)
                      : std::min(tile.height, kQuarterSide);
    return r;
}

/* Texture bytes the library allocates for a tile held as quarters. */
inline std::size_t tileTextureBytes(const PixelRect& tile) noexcept {
    std::uint64_t bytes = 0;
    for (int q = 0; q < 4; ++q) {
        const PixelRect r = quarterRect(tile, q);
        if (r.width != 0 && r.height != 0) bytes += nextPow2(r.width) * nextPow2(r.height) * 4;
    }
    return static_cast<std::size_t>(bytes);
}

/* Level-0 pixels per pixel of a level, across and down. */
inline double ratio(std::uint32_t full, std::uint32_t part) noexcept {
    return part == full ? 1.0 : static_cast<double>(full) / part;
}

/* v turned as Zelvan turns an image: about Z, then Y, then X, angles as the library stores them. */
inline Vec3 turned(const Placement& p, Vec3 v) noexcept {
    v = rotated(v, static_cast<double>(static_cast<float>(p.rotateZ)), 2);
    v = rotated(v, static_cast<double>(static_cast<float>(p.rotateY)), 1);
    return rotated(v, static_cast<double>(static_cast<float>(p.rotateX)), 0);
}

/* Where the picture's level-0 pixel coordinates (u, v) land in the caller's units: origin + u * across +
 * v * down, projected onto the screen plane. */
struct PictureMap {
    double originX = 0, originY = 0;
    double acrossX = 0, acrossY = 0, downX = 0, downY = 0;

    static PictureMap of(const Placement& p, TileSize full) noexcept {
        const Vec3 across = turned(p, {p.scaleX, 0, 0}), down = turned(p, {0, -p.scaleY, 0});
        PictureMap m;
        m.acrossX = across.x;
        m.acrossY = across.y;
        m.downX = down.x;
        m.downY = down.y;
        m.originX = p.centreX - full.width / 2.0 * across.x - full.height / 2.0 * down.x;
        m.originY = p.centreY - full.width / 2.0 * across.y - full.height / 2.0 * down.y;
        return m;
    }
    double x(double u, double v) const noexcept { return originX + u * acrossX + v * downX; }
    double y(double u, double v) const noexcept { return originY + u * acrossY + v * downY; }
};

/* The placement of one piece (a quarter or a whole tile) of a level: the picture's placement shifted along
 * the turned axes to the piece's centre and scaled by full / level size. Offsets use the scales as the
 * library stores them (float), so that neighbouring pieces' edges meet exactly as computed in double. */
inline Placement piecePlacement(const Placement& picture, TileSize full, TileSize level,
                                const PixelRect& piece, std::uint8_t alpha) noexcept {
    Placement p = picture;
    p.scaleX = picture.scaleX * ratio(full.width, level.width);
    p.scaleY = picture.scaleY * ratio(full.height, level.height);
    const double sx = static_cast<float>(p.scaleX), sy = static_cast<float>(p.scaleY);
    const Vec3 offset = turned(picture, {(piece.x + piece.width / 2.0 - level.width / 2.0) * sx,
                                         -(piece.y + piece.height / 2.0 - level.height / 2.0) * sy, 0});
    p.centreX += offset.x;
    p.centreY += offset.y;
    p.centreZ += offset.z;
    p.alpha = alpha;
    return p;
}

/* Separating-axis test of a convex quad (corners in order) against the frame rectangle: true when they
 * overlap with positive area. The frame's two axes, then the quad's edge normals. */
inline bool quadMeetsFrame(const double (&x)[4], const double (&y)[4], const Frame& f) noexcept {
    const double left = std::min(f.left, f.right), right = std::max(f.left, f.right);
    const double bottom = std::min(f.bottom, f.top), top = std::max(f.bottom, f.top);
    if (*std::max_element(x, x + 4) <= left || *std::min_element(x, x + 4) >= right) return false;
    if (*std::max_element(y, y + 4) <= bottom || *std::min_element(y, y + 4) >= top) return false;
    const double fx[4] = {left, right, right, left}, fy[4] = {bottom, bottom, top, top};
    for (int e = 0; e < 4; ++e) {
        const double nx = y[(e + 1) % 4] - y[e], ny = x[e] - x[(e + 1) % 4];
        double qmin = std::numeric_limits<double>::infinity(), qmax = -qmin, fmin = qmin, fmax = -qmin;
        for (int i = 0; i < 4; ++i) {
            qmin = std::min(qmin, nx * x[i] + ny * y[i]);
            qmax = std::max(qmax, nx * x[i] + ny * y[i]);
            fmin = std::min(fmin, nx * fx[i] + ny * fy[i]);
            fmax = std::max(fmax, nx * fx[i] + ny * fy[i]);
        }
        if (qmax <= fmin || fmax <= qmin) return false;
    }
    return true;
}

/*
 * The tiles of a level that meet the frame, row by row, appended to out. The frame's preimage in the
 * level's pixels is a parallelogram; a tile meets it exactly when the tile's column span overlaps the
 * span of the preimage within the tile's row, which is the separating-axis answer for every tile without
 * testing each one (a turned view asks for no tile of the bounding box that the frame misses).
 * Returns false, out then incomplete, when more than `limit` tiles would be needed.
 */
inline bool visibleTiles(const Placement& placement, const std::vector<TileSize>& levels, std::uint32_t level,
                         const Frame& frame, std::size_t limit, std::vector<TileIndex>& out) {
    const TileSize full = levels[0], size = levels[level];
    const PictureMap m = PictureMap::of(placement, full);
    const double det = m.acrossX * m.downY - m.downX * m.acrossY;
    const double scale =
        std::fabs(m.acrossX) + std::fabs(m.acrossY) + std::fabs(m.downX) + std::fabs(m.downY);
    if (!std::isfinite(det) || !(std::fabs(det) > 1e-12 * scale * scale))
        return true;  // edge-on: nothing shows
    const double toU = size.width / static_cast<double>(full.width),
                 toV = size.height / static_cast<double>(full.height);
    double u[4], v[4];
    const double fx[4] = {frame.left, frame.right, frame.right, frame.left};
    const double fy[4] = {frame.bottom, frame.bottom, frame.top, frame.top};
    for (int i = 0; i < 4; ++i) {
        const double dx = fx[i] - m.originX, dy = fy[i] - m.originY;
        u[i] = (dx * m.downY - dy * m.downX) / det * toU;
        v[i] = (m.acrossX * dy - m.acrossY * dx) / det * toV;
        if (!std::isfinite(u[i]) || !std::isfinite(v[i])) return true;
    }
    const double vmin = *std::min_element(v, v + 4), vmax = *std::max_element(v, v + 4);
    if (vmax <= 0 || vmin >= size.height) return true;
    const std::uint32_t rows = tilesAcross(size.height), columns = tilesAcross(size.width);
    const auto cell = [](double at, std::uint32_t count) {  // the grid cell holding `at`, clamped
        return static_cast<std::uint32_t>(std::clamp(std::floor(at / kTileSide), 0.0, count - 1.0));
    };
    const std::uint32_t firstRow = cell(vmin, rows), lastRow = cell(std::nextafter(vmax, -1e300), rows);
    for (std::uint32_t row = firstRow; row <= lastRow; ++row) {
        const double top = static_cast<double>(row) * kTileSide;
        const double bottom = std::min(top + kTileSide, static_cast<double>(size.height));
        double umin = std::numeric_limits<double>::infinity(), umax = -umin;
        for (int i = 0; i < 4; ++i) {
            const int j = (i + 1) % 4;
            if (v[i] >= top && v[i] <= bottom) umin = std::min(umin, u[i]), umax = std::max(umax, u[i]);
            for (const double line : {top, bottom})
                if ((v[i] - line) * (v[j] - line) < 0) {
                    const double at = u[i] + (line - v[i]) / (v[j] - v[i]) * (u[j] - u[i]);
                    umin = std::min(umin, at);
                    umax = std::max(umax, at);
                }
        }
        if (!(umax > 0) || !(umin < size.width) || !(umax > umin)) continue;
        const std::uint32_t first = cell(umin, columns), last = cell(std::nextafter(umax, -1e300), columns);
        if (out.size() + (last - first + 1) > limit) return false;
        for (std::uint32_t column = first; column <= last; ++column) out.push_back({level, column, row});
    }
    return true;
}

/* Squared distance in the caller's units from a tile's centre to the frame's centre. */
inline double distanceToCentre(const PictureMap& m, const std::vector<TileSize>& levels, const TileIndex& t,
                               const Frame& f) noexcept {
    const PixelRect r = tileRect(levels[t.level], t.column, t.row);
    const double u = (r.x + r.width / 2.0) * ratio(levels[0].width, levels[t.level].width);
    const double v = (r.y + r.height / 2.0) * ratio(levels[0].height, levels[t.level].height);
    const double dx = m.x(u, v) - (f.left + f.right) / 2, dy = m.y(u, v) - (f.bottom + f.top) / 2;
    const double d = dx * dx + dy * dy;
    return std::isnan(d) ? HUGE_VAL : d;  // a sort must never meet NaN
}

/* A read to make: tiles of the pinned level first, then coarser levels before finer ones, then nearer
 * the frame's centre before farther. */
struct TileRequest {
    TileIndex tile;
    PixelRect rect;
    std::uint64_t epoch = 0;  // the view's invalidation count when asked
    bool pinned = false;
    double distance = 0;
};
inline bool moreUrgent(const TileRequest& a, const TileRequest& b) noexcept {
    if (a.pinned != b.pinned) return a.pinned;
    if (a.tile.level != b.tile.level) return a.tile.level > b.tile.level;
    return a.distance < b.distance;
}

/* A resident tile may make room in frame `frame` unless it is pinned or was drawn in this frame or the one
 * before: what is on screen never goes before what replaces it has come. */
inline bool evictable(std::uint64_t lastDrawn, std::uint64_t frame, bool pinned) noexcept {
    return !pinned && lastDrawn + 1 < frame;
}

/*
 * The levels a frame draws: detail::levelsFor's two nearest levels while both fit in `available` texture
 * bytes; else the coarser alone; else coarser levels, one at a time, rather than thrash. bytesFor(level)
 * gives the texture bytes the frame needs at a level, or SIZE_MAX when that is beyond counting.
 * fits is false when not even the last level fits.
 */
struct LevelChoice {
    LevelBlend blend;
    bool fits = true;
};
template <typename BytesFor>
LevelChoice chooseLevels(double pixels, std::size_t levelCount, std::size_t available, BytesFor bytesFor) {
    LevelChoice choice;
    choice.blend = levelsFor(pixels, levelCount);
    LevelBlend& b = choice.blend;
    const std::size_t coarser = bytesFor(b.coarser);
    if (coarser <= available) {
        if (b.finer == b.coarser) return choice;
        const std::size_t finer = bytesFor(b.finer);
        if (finer <= available - coarser) return choice;
    }
    b.finer = b.coarser;
    while (bytesFor(b.coarser) > available) {
        if (b.coarser + 1 >= levelCount) {
            choice.fits = false;
            break;
        }
        b.finer = ++b.coarser;
    }
    return choice;
}

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_PLAN_HPP */
