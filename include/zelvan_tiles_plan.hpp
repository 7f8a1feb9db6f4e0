/*
 * The tile view's planning, free of OpenGL so that it can be tested on its own: which tiles a frame
 * needs for any placement (turned ones included), where each part goes, which levels fit the texture
 * budget, and the order in which missing tiles are read, over the grid of zelvan_tiles_grid.hpp.
 *
 * Coordinates: a level's pixels as zelvan_tiles_grid.hpp counts them; the caller's units are those of
 * its projection, y up.
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
#include "zelvan_tiles_grid.hpp"

namespace zelvan {
namespace detail {

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

/* The placement of one part of a level, `texels` across and down, covering `area` of level 0: the
 * picture's placement shifted along the turned axes to the area's centre and scaled to its size. Offsets
 * use the scales as the library stores them (float), so that neighbouring parts' edges meet as computed
 * in double. */
inline Placement partPlacement(const Placement& picture, TileSize full, const Area& area,
                               const PixelRect& texels, std::uint8_t alpha) noexcept {
    Placement p = picture;
    const double sx = static_cast<float>(picture.scaleX), sy = static_cast<float>(picture.scaleY);
    p.scaleX = sx * (area.u1 - area.u0) / texels.width;
    p.scaleY = sy * (area.v1 - area.v0) / texels.height;
    const Vec3 offset = turned(picture, {((area.u0 + area.u1) / 2 - full.width / 2.0) * sx,
                                         -((area.v0 + area.v1) / 2 - full.height / 2.0) * sy, 0});
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
inline bool visibleTiles(const Placement& placement, const LevelGrid& grid, std::uint32_t level,
                         const Frame& frame, std::size_t limit, std::vector<TileIndex>& out) {
    const TileSize full = grid.full(), size = grid.size(level);
    const PictureMap m = PictureMap::of(placement, full);
    const double det = m.acrossX * m.downY - m.downX * m.acrossY;
    const double scale =
        std::fabs(m.acrossX) + std::fabs(m.acrossY) + std::fabs(m.downX) + std::fabs(m.downY);
    if (!std::isfinite(det) || !(std::fabs(det) > 1e-12 * scale * scale))
        return true;  // edge-on: nothing shows
    const double toU = 1 / grid.across(level).factor, toV = 1 / grid.down(level).factor;
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
    const double endU = grid.across(level).at(size.width) * toU,
                 endV = grid.down(level).at(size.height) * toV;
    if (vmax <= 0 || vmin >= endV) return true;
    const std::uint32_t rows = tilesAcross(size.height), columns = tilesAcross(size.width);
    const auto cell = [](double at, std::uint32_t count) {  // the grid cell holding `at`, clamped
        return static_cast<std::uint32_t>(std::clamp(std::floor(at / kTileSide), 0.0, count - 1.0));
    };
    const std::uint32_t firstRow = cell(vmin, rows), lastRow = cell(std::nextafter(vmax, -1e300), rows);
    for (std::uint32_t row = firstRow; row <= lastRow; ++row) {
        const double top = static_cast<double>(row) * kTileSide;
        const double bottom = row + 1 == rows ? endV : top + kTileSide;
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
        if (!(umax > 0) || !(umin < endU) || !(umax > umin)) continue;
        const std::uint32_t first = cell(umin, columns), last = cell(std::nextafter(umax, -1e300), columns);
        if (out.size() + (last - first + 1) > limit) return false;
        for (std::uint32_t column = first; column <= last; ++column) out.push_back({level, column, row});
    }
    return true;
}

/* Squared distance in the caller's units from a tile's centre to the frame's centre. */
inline double distanceToCentre(const PictureMap& m, const LevelGrid& grid, const TileIndex& t,
                               const Frame& f) noexcept {
    const Area a = grid.tileArea(t);
    const double u = (a.u0 + a.u1) / 2, v = (a.v0 + a.v1) / 2;
    const double dx = m.x(u, v) - (f.left + f.right) / 2, dy = m.y(u, v) - (f.bottom + f.top) / 2;
    const double d = dx * dx + dy * dy;
    return std::isnan(d) ? HUGE_VAL : d;  // a sort must never meet NaN
}

/* A read to make. One order holds across every view of a scene (zelvan_tiles_pool.hpp picks by it): tiles
 * of the pinned level first, then the stand-ins (a blend's coarser level) before the level shown, then
 * the more urgent (the more
 * screen a tile covers in its view, the nearer its view's centre), then coarser levels before finer ones,
 * then nearer the frame's centre before farther. */
struct TileRequest {
    TileIndex tile;
    PixelRect rect;
    std::uint64_t epoch = 0;  // the view's invalidation count when asked
    bool pinned = false;
    double distance = 0;
    std::uint8_t rank = 0;  // 0: a stand-in (the pinned level, a blend's coarser); 1: the level shown
    double urgency = 0;     // screenShare's: more is read first
};
inline bool moreUrgent(const TileRequest& a, const TileRequest& b) noexcept {
    if (a.pinned != b.pinned) return a.pinned;
    if (a.rank != b.rank) return a.rank < b.rank;
    if (a.urgency != b.urgency) return a.urgency > b.urgency;
    if (a.tile.level != b.tile.level) return a.tile.level > b.tile.level;
    return a.distance < b.distance;
}

/* How much a tile of `level` matters to its view's frame, comparable between views: the screen pixels a
 * whole tile of the level covers, at most the frame's own, divided by one plus the tile's distance from
 * the frame's centre in half diagonals. `distance`: distanceToCentre's (squared units). */
inline double screenShare(const PictureMap& m, const LevelGrid& grid, std::uint32_t level, const Frame& f,
                          double distance) noexcept {
    const double ppu = std::fabs(f.pixelsPerUnit);
    const double w = std::fabs(f.right - f.left), h = std::fabs(f.top - f.bottom);
    const double texels = double{kTileSide} * kTileSide * grid.across(level).factor * grid.down(level).factor;
    const double tile = texels * std::fabs(m.acrossX * m.downY - m.downX * m.acrossY) * ppu * ppu;
    const double share = std::min(tile, w * h * ppu * ppu) / (1 + std::sqrt(distance / (w * w + h * h) * 4));
    return std::isfinite(share) ? share : 0;
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
    bool limited = false;  // the budget made the frame coarser than its scale asks
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
    choice.limited = true;
    while (bytesFor(b.coarser) > available) {
        if (b.coarser + 1 >= levelCount) {
            choice.fits = false;
            break;
        }
        b.finer = ++b.coarser;
    }
    return choice;
}

/* What a frame draws: the levels, the coarser level's tiles (those of the frame, or, when not even the
 * last level's fit in the budget, those nearest its centre) and the finer level's (none when one level is
 * drawn alone). The lists keep their memory from frame to frame. */
struct FramePlan {
    LevelChoice choice;
    std::size_t scaleLevel = 0;  // the finer level the scale alone asks for
    std::vector<TileIndex> coarse, fine, scratch;
};

/* Plans a frame within `available` texture bytes, of the first `levels` levels (the grid's, or fewer),
 * `coarserBy` levels coarser than its scale asks (a view moving faster than its tiles come). */
inline void planFrame(const Placement& placement, const LevelGrid& grid, const Frame& frame,
                      std::size_t available, FramePlan& plan, std::size_t levels = SIZE_MAX,
                      std::size_t coarserBy = 0) {
    levels = std::min(levels, grid.count());
    const double scalePixels =
        std::min(std::fabs(placement.scaleX), std::fabs(placement.scaleY)) * std::fabs(frame.pixelsPerUnit);
    const double pixels = std::ldexp(scalePixels, -static_cast<int>(std::min<std::size_t>(coarserBy, 64)));
    const std::size_t limit = std::min<std::size_t>(4096, available / 4 + 1);
    const auto visible = [&](std::size_t level, const Frame& f, std::vector<TileIndex>& out) {
        out.clear();
        return visibleTiles(placement, grid, static_cast<std::uint32_t>(level), f, limit, out);
    };
    const auto bytesOf = [&](const std::vector<TileIndex>& tiles) {
        std::size_t bytes = 0;
        for (const TileIndex& t : tiles) bytes += tileBytes(grid, t);
        return bytes;
    };
    std::vector<std::size_t> bytesAt(grid.count(), SIZE_MAX - 1);  // SIZE_MAX - 1: not counted yet
    const auto bytesFor = [&](std::size_t level) {
        if (bytesAt[level] == SIZE_MAX - 1)
            bytesAt[level] = visible(level, frame, plan.scratch) ? bytesOf(plan.scratch) : SIZE_MAX;
        return bytesAt[level];
    };
    plan.scaleLevel = levelsFor(scalePixels, grid.count()).finer;
    plan.choice = chooseLevels(pixels, levels, available, bytesFor);
    const LevelBlend& b = plan.choice.blend;
    Frame shown = frame;  // not even the last level fits: its tiles nearest the centre
    for (int i = 0; i < 64 && !(visible(b.coarser, shown, plan.coarse) && bytesOf(plan.coarse) <= available);
         ++i) {
        const double cx = (shown.left + shown.right) / 2, cy = (shown.bottom + shown.top) / 2;
        shown.left = (shown.left + cx) / 2;
        shown.right = (shown.right + cx) / 2;
        shown.bottom = (shown.bottom + cy) / 2;
        shown.top = (shown.top + cy) / 2;
    }
    plan.fine.clear();
    if (b.finer != b.coarser) visible(b.finer, frame, plan.fine);
}

/* How far a part's right and bottom edges reach over the next part, in the units of its placement
 * `part` (covering width x height units): about a thousandth of a screen pixel, and more than the float
 * rounding of its translation, so that neighbouring parts, each placed on its own, leave no crack. */
inline double overlapUnits(const Placement& part, double width, double height,
                           double pixelsPerUnit) noexcept {
    const double magnitude =
        std::max({std::fabs(part.centreX), std::fabs(part.centreY), std::fabs(part.centreZ)}) +
        std::max(std::fabs(width), std::fabs(height));
    const double units = std::max(0x1p-10 / std::fabs(pixelsPerUnit), magnitude * 0x1p-20);
    return std::isfinite(units) ? units : 0;
}

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_PLAN_HPP */
