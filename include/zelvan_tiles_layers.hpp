/*
 * The tile view's drawing: the parts of the resident tiles a frame plan names (zelvan_tiles_plan.hpp),
 * the coarser level first with stand-ins from coarser levels still where its tiles are missing, then the
 * finer level's passes over it, as Pyramid draws its levels. Each part's placement is worked out once a
 * frame, from the picture's placement turned once a frame (PartPlacer): no part is turned on its own.
 */
#ifndef ZELVAN_TILES_LAYERS_HPP
#define ZELVAN_TILES_LAYERS_HPP

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_tiles_cache.hpp"
#include "zelvan_tiles_grid.hpp"
#include "zelvan_tiles_plan.hpp"

namespace zelvan {
namespace detail {

/* What ZelvanScale and ZelvanTranslate take for a part (the turn is the picture's): its scale and the
 * translation of its bottom-left corner inside the picture's turned frame, as floats, as the library
 * keeps them. */
struct PartAt {
    float scaleX = 0, scaleY = 0, x = 0, y = 0, z = 0;
};

/*
 * The placements of a frame's parts, each as partPlacement and Image::place would make it, without
 * turning the part: the library turns every part by the picture's turn and translates inside the turned
 * frame, so a part's translation is the picture's centre turned back once (for the frame) plus the
 * part's offset along the unturned axes. Scales and angles are taken as the library stores them (float).
 */
class PartPlacer {
public:
    PartPlacer(const Placement& picture, TileSize full, double pixelsPerUnit) noexcept
        : picture_(picture), full_(full), pixelsPerUnit_(pixelsPerUnit) {
        sx_ = static_cast<float>(picture.scaleX);
        sy_ = static_cast<float>(picture.scaleY);
        // The centre in the turned frame (cornerTranslation's turn back), and the turned axes.
        centre_ = cornerTranslation(picture, 0, 0);
        across_ = turned(picture, {sx_, 0, 0});
        down_ = turned(picture, {0, -sy_, 0});
    }

    /* A part of `texels` covering `area` of level 0. `reaching`: drawn opaque, it reaches over its right
     * and bottom neighbours, drawn after it, by overlapUnits (of the part as it lies unstretched), so
     * that float rounding leaves no crack between them. */
    PartAt place(Area area, const PixelRect& texels, bool reaching) const noexcept {
        if (reaching) {
            const double cu = (area.u0 + area.u1) / 2 - full_.width / 2.0,
                         cv = (area.v0 + area.v1) / 2 - full_.height / 2.0;
            Placement centre;
            centre.centreX = picture_.centreX + cu * across_.x + cv * down_.x;
            centre.centreY = picture_.centreY + cu * across_.y + cv * down_.y;
            centre.centreZ = picture_.centreZ + cu * across_.z + cv * down_.z;
            const double w = std::fabs(sx_ * (area.u1 - area.u0) / texels.width) * texels.width,
                         h = std::fabs(sy_ * (area.v1 - area.v0) / texels.height) * texels.height;
            const double reach = overlapUnits(centre, w, h, pixelsPerUnit_);
            const double ax = std::fabs(static_cast<double>(sx_)), ay = std::fabs(static_cast<double>(sy_));
            if (area.u1 < full_.width && ax > 0)
                area.u1 = std::min<double>(area.u1 + reach / ax, full_.width);
            if (area.v1 < full_.height && ay > 0)
                area.v1 = std::min<double>(area.v1 + reach / ay, full_.height);
        }
        const double scaleX = sx_ * (area.u1 - area.u0) / texels.width;
        const double scaleY = sy_ * (area.v1 - area.v0) / texels.height;
        const double x = centre_.x + ((area.u0 + area.u1) / 2 - full_.width / 2.0) * sx_;
        const double y = centre_.y - ((area.v0 + area.v1) / 2 - full_.height / 2.0) * sy_;
        PartAt at;
        at.scaleX = static_cast<float>(scaleX);
        at.scaleY = static_cast<float>(scaleY);
        at.x = static_cast<float>(x - texels.width * static_cast<double>(at.scaleX) / 2);
        at.y = static_cast<float>(y - texels.height * static_cast<double>(at.scaleY) / 2);
        at.z = static_cast<float>(centre_.z);
        return at;
    }

    /* Draws a part's image at `at`, at `alpha`, moved shiftX and shiftY units along the turned axes. */
    void draw(const Image& image, const PartAt& at, std::uint8_t alpha, float shiftX, float shiftY) const {
        if (!image) return;
        const ZelvanHandle h = image.handle();
        ZelvanScale(h, at.scaleX, at.scaleY, false);
        ZelvanRotate(h, static_cast<float>(picture_.rotateX), static_cast<float>(picture_.rotateY),
                     static_cast<float>(picture_.rotateZ));
        ZelvanTranslate(h, at.x + shiftX, at.y + shiftY, at.z);
        ZelvanAlpha(h, alpha);
        ZelvanDraw(h);
    }

private:
    Placement picture_;
    TileSize full_;
    double pixelsPerUnit_;
    double sx_ = 1, sy_ = 1;  // the scales as floats
    Vec3 centre_{}, across_{}, down_{};
};

/* A resident tile needs nothing: not invalidated, and of the mapping shown. */
inline bool current(const TileCache::Tile& tile, std::uint64_t mapping) noexcept {
    return !tile.stale && tile.mapping == mapping;
}

/* Whether a frame of `plan` draws every tile it wants (the rule draw() reports in TileStats::complete):
 * the pinned level resident, every finer tile resident and current, every coarser one too when it
 * counts (`coarserCounts`: it is the level shown, or stand-ins are read), and the levels within the
 * budget. */
inline bool frameComplete(const FramePlan& plan, TileCache& cache, std::uint64_t mapping,
                          bool coarserCounts) {
    if (!plan.choice.fits || !cache.pinnedResident()) return false;
    for (const TileIndex& t : plan.fine) {
        const TileCache::Tile* tile = cache.find(tileKey(t));
        if (tile == nullptr || !current(*tile, mapping)) return false;
    }
    if (!coarserCounts) return true;
    for (const TileIndex& t : plan.coarse) {
        const TileCache::Tile* tile = cache.find(tileKey(t));
        if (tile == nullptr || !current(*tile, mapping)) return false;
    }
    return true;
}

/* Draws a frame's layers; keeps its lists' memory from frame to frame. */
class LayerPainter {
public:
    LayerPainter(const LevelGrid& grid, TileCache& cache) noexcept : grid_(grid), cache_(cache) {}

    /* The frame: the coarser level (and stand-ins for its missing tiles, coarsest first) opaque, the
     * finer over it at its opacity. `wanted`: the tiles the frame wants, read or not; `finerPasses`:
     * blendPasses' passes. Throws std::bad_alloc (the frame then draws less). */
    void draw(const FramePlan& plan, const Placement& placement, const Frame& frame,
              const std::unordered_set<std::uint64_t>& wanted, std::uint64_t frameNumber, int finerPasses) {
        const LevelBlend& blend = plan.choice.blend;
        const auto finer = static_cast<std::uint32_t>(blend.finer);
        const auto coarser = static_cast<std::uint32_t>(blend.coarser);
        const PartPlacer placer(placement, grid_.full(), frame.pixelsPerUnit);
        frameNumber_ = frameNumber;
        pieces_.clear();
        for (const TileIndex& t : plan.coarse)
            if (cache_.find(tileKey(t)) != nullptr)
                addParts(t, {0, 0, HUGE_VAL, HUGE_VAL});
            else
                addFallback(t);
        // Coarser levels first, then row by row: each piece reaches over its right and bottom
        // neighbours, which are drawn after it.
        std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) {
            if (a.level != b.level) return a.level > b.level;
            if (a.area.v0 != b.area.v0) return a.area.v0 < b.area.v0;
            if (a.area.u0 != b.area.u0) return a.area.u0 < b.area.u0;
            return std::make_pair(a.key, a.part) < std::make_pair(b.key, b.part);
        });
        pieces_.erase(
            std::unique(pieces_.begin(), pieces_.end(),
                        [](const Piece& a, const Piece& b) { return a.key == b.key && a.part == b.part; }),
            pieces_.end());
        // Passes as Pyramid draws its levels (blendPasses), the first coarser one the base; where the
        // finer level is missing, the coarser alone at the placement's opacity.
        const std::uint8_t alpha = placement.alpha;
        const BlendPasses passes = blendPasses(blend, alpha / 255.0, frame.pixelsPerUnit, finerPasses);
        const auto opacityOf = [alpha](double fraction) {
            return static_cast<std::uint8_t>(std::lround(alpha * std::clamp(fraction, 0.0, 1.0)));
        };
        const std::uint8_t under = opacityOf(passes.pass[0].opacity);
        drawn_.clear();
        for (const Piece& p : pieces_) {
            // Translucent: a piece that a coarser one already covers would blend twice.
            const auto covers = [&](const Piece* c) {
                const Area grown{c->area.u0 - 1e-6, c->area.v0 - 1e-6, c->area.u1 + 1e-6, c->area.v1 + 1e-6};
                return c->level > p.level && grown.covers(p.area);
            };
            if (alpha < 255 && std::any_of(drawn_.begin(), drawn_.end(), covers)) continue;
            const bool beneath =
                finer != coarser && p.level == coarser && residentUnder(finer, p.area, &wanted);
            if (beneath && under == 0) continue;
            const std::uint8_t a = beneath ? under : alpha;
            drawPiece(p, placer, placer.place(p.area, p.rect, a == 255), a, 0, 0);
            drawn_.push_back(&p);
        }
        // The finer level's passes, each whole before the next, so that no piece blends over a
        // neighbour of its own pass. A piece is placed once, reaching over its neighbours for an opaque
        // pass and not for a translucent one.
        pieces_.clear();
        for (const TileIndex& t : plan.fine)
            if (cache_.find(tileKey(t)) != nullptr) addParts(t, {0, 0, HUGE_VAL, HUGE_VAL});
        std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) {
            return a.area.v0 != b.area.v0 ? a.area.v0 < b.area.v0 : a.area.u0 < b.area.u0;
        });
        bool opaquePass = false, translucentPass = false;
        for (const BlendPass& pass : passes)
            if (!pass.coarser && opacityOf(pass.opacity) != 0)
                (opacityOf(pass.opacity) == 255 ? opaquePass : translucentPass) = true;
        for (Piece& p : pieces_) {
            if (opaquePass) p.reaching = placer.place(p.area, p.rect, true);
            if (translucentPass) p.plain = placer.place(p.area, p.rect, false);
        }
        for (const BlendPass& pass : passes) {
            const std::uint8_t a = opacityOf(pass.opacity);
            if (pass.coarser || a == 0) continue;
            for (const Piece& p : pieces_)
                drawPiece(p, placer, a == 255 ? p.reaching : p.plain, a, pass.shiftX, pass.shiftY);
        }
    }

private:
    struct Piece {
        std::uint64_t key;
        int part;
        std::uint32_t level;
        PixelRect rect;          // its texels in the level
        Area area;               // the level-0 pixels it covers
        PartAt plain, reaching;  // finer pieces: placed for translucent passes, for an opaque one
    };
    /* The tiles of `level` under a level-0 area: columns c0..c1, rows r0..r1. */
    struct TileRange {
        std::uint32_t c0, c1, r0, r1;
        std::uint64_t count() const { return std::uint64_t{c1 - c0 + 1} * (r1 - r0 + 1); }
    };

    TileRange tilesUnder(std::uint32_t level, const Area& a) const {
        const double sx = grid_.across(level).factor * kTileSide, sy = grid_.down(level).factor * kTileSide;
        const auto cell = [](double at, std::uint32_t n) {
            return static_cast<std::uint32_t>(std::clamp(std::floor(at), 0.0, n - 1.0));
        };
        const std::uint32_t columns = tilesAcross(grid_.size(level).width);
        const std::uint32_t rows = tilesAcross(grid_.size(level).height);
        return {cell(a.u0 / sx, columns), cell(std::nextafter(a.u1 / sx, 0.0), columns),
                cell(a.v0 / sy, rows), cell(std::nextafter(a.v1 / sy, 0.0), rows)};
    }
    /* Whether the tiles of `level` under an area are resident (or, given `wanted`, those of them this
     * frame wants). */
    bool residentUnder(std::uint32_t level, const Area& a,
                       const std::unordered_set<std::uint64_t>* wanted = nullptr) const {
        const TileRange r = tilesUnder(level, a);
        if (r.count() > 16) return false;
        for (std::uint32_t row = r.r0; row <= r.r1; ++row)
            for (std::uint32_t col = r.c0; col <= r.c1; ++col) {
                const std::uint64_t key = tileKey({level, col, row});
                if (cache_.find(key) == nullptr && (wanted == nullptr || wanted->count(key) != 0))
                    return false;
            }
        return true;
    }

    /* The parts of a resident tile that meet a level-0 area. */
    void addParts(const TileIndex& t, const Area& within) {
        const TileParts parts = tileParts(grid_, t);
        for (int i = 0; i < parts.count; ++i) {
            const Area a = grid_.area(t.level, parts.rect[i]);
            if (a.meets(within)) pieces_.push_back({tileKey(t), i, t.level, parts.rect[i], a, {}, {}});
        }
    }

    /* A missing tile drawn from the nearest resident level that covers it: coarser levels first, the
     * pinned level last (finer, when the frame wants a level coarser than it). */
    void addFallback(const TileIndex& t) {
        const Area area = grid_.tileArea(t);
        const auto cover = [&](std::uint32_t level) {
            if (!residentUnder(level, area)) return false;
            const TileRange range = tilesUnder(level, area);
            for (std::uint32_t row = range.r0; row <= range.r1; ++row)
                for (std::uint32_t col = range.c0; col <= range.c1; ++col) addParts({level, col, row}, area);
            return true;
        };
        for (auto level = t.level + 1; level < grid_.count(); ++level)
            if (cover(level)) return;
        if (cache_.pinning() && cache_.pinnedLevel() < t.level)
            cover(static_cast<std::uint32_t>(cache_.pinnedLevel()));
    }

    void drawPiece(const Piece& p, const PartPlacer& placer, const PartAt& at, std::uint8_t alpha,
                   float shiftX, float shiftY) {
        TileCache::Tile* tile = cache_.find(p.key);
        if (tile == nullptr) return;
        placer.draw(tile->parts[p.part], at, alpha, shiftX, shiftY);
        tile->lastDrawn = frameNumber_;
    }

    const LevelGrid& grid_;
    TileCache& cache_;
    std::uint64_t frameNumber_ = 0;
    std::vector<Piece> pieces_;
    std::vector<const Piece*> drawn_;
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_LAYERS_HPP */
