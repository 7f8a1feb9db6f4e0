/*
 * Zelvan for C++: a Pyramid of half-size levels that keeps an image free of moire when it is drawn
 * small, over the Image of zelvan.hpp.
 *
 * Header-only C++17; it calls nothing but the functions of zelvan.h and adds no symbol to libzelvan.
 *
 *     zelvan::Library library;                       // ZelvanInit ... ZelvanShutdown
 *     zelvan::Pyramid picture(width, height);
 *     picture.upload(pixels, pitch, bytes);          // or uploadRows band by band
 *     picture.place(zelvan::fit(width, height, 800, 600));
 *     picture.draw();                                // once per frame, under glOrtho(0, 800, 0, 600, ...)
 *
 * Errors, threads, OpenGL and lifetime: as for zelvan.hpp.
 */
#ifndef ZELVAN_PYRAMID_HPP
#define ZELVAN_PYRAMID_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_levels.hpp"

namespace zelvan {

namespace detail {

/* Rows of one level made but not yet uploaded: at most one band of kBlockSide. */
struct Carry {
    std::unique_ptr<unsigned char[]> rows;  // left uninitialised: every byte is written before it is read
    std::uint32_t count = 0;                // rows held
    std::uint32_t nextRow = 0;              // the level's row the first of them goes to
};

/* What one level's blocks hold, by rows from the top: [0, uploaded) the pixels of the latest
 * building; [uploaded, clearFrom) anything (nothing yet, an earlier building's pixels, a failed
 * band's); [clearFrom, height) transparent texels. Both are multiples of kBlockSide or the height. */
struct LevelRows {
    std::uint32_t uploaded = 0, clearFrom = 0;
};

}  // namespace detail

/*
 * An image with half-size levels down to 1 x 1 (sides rounded up), each level a Zelvan image of its
 * own: about one third more texture memory than the image alone. Each level averages 2 x 2 pixels
 * of the one above in linear light, colour weighted by alpha. draw shows the level just finer than
 * the scale on screen, three times (or as many as draw is asked) blended a fraction of a pixel apart, so an
 * image drawn small shows the average of its pixels instead of a moire of some of them, and no line of it
 * vanishes. Move-only; a moved-from Pyramid is empty. An empty Pyramid accepts every call and does nothing.
 * Like an Image, a Pyramid that outlives its Library names nothing: operator bool is false and
 * uploads return false.
 */
class Pyramid {
public:
    /* While the levels stream in, draw fills the rows the levels for the scale have not reached with
     * up to this many finer levels; each costs four times the blocks of the one above it. */
    static constexpr std::size_t kFillLevels = 2;

    /* An empty pyramid. */
    Pyramid() noexcept = default;

    /* A pyramid for a width x height image; no pixel uploaded. Empty when the library refuses any
     * level or memory runs out. An image of width or height 0 has one level, itself.
     * OpenGL: as ZelvanCreate (normally not needed). */
    Pyramid(std::uint32_t width, std::uint32_t height) noexcept {
        try {
            std::vector<Image> levels;
            const std::size_t count = levelCount(width, height);
            levels.reserve(count);
            for (std::size_t k = 0; k < count; ++k) {
                levels.emplace_back(levelSide(width, k), levelSide(height, k));
                if (!levels.back()) return;
            }
            rows_.resize(count);
            for (std::size_t k = 0; k < count; ++k) rows_[k].clearFrom = levels[k].height();
            levels_ = std::move(levels);
        } catch (...) {  // std::bad_alloc: the levels made so far go with `levels`
            rows_.clear();
        }
    }

    Pyramid(Pyramid&&) noexcept = default;
    Pyramid& operator=(Pyramid&&) noexcept = default;
    Pyramid(const Pyramid&) = delete;
    Pyramid& operator=(const Pyramid&) = delete;

    /* zelvan_levels.hpp's levelCount and levelSide, the rule the levels are made by. */
    static std::size_t levelCount(std::uint32_t width, std::uint32_t height) noexcept {
        return zelvan::levelCount(width, height);
    }
    static constexpr std::uint32_t levelSide(std::uint32_t side, std::size_t k) noexcept {
        return zelvan::levelSide(side, k);
    }
    /* The bytes of texture memory every level of a width x height pyramid holds once uploaded. */
    static std::uint64_t textureBytes(std::uint32_t width, std::uint32_t height) noexcept {
        std::uint64_t bytes = 0;
        for (std::size_t k = 0, count = levelCount(width, height); k < count; ++k)
            bytes += Image::textureBytes(levelSide(width, k), levelSide(height, k));
        return bytes;
    }

    /* True unless empty or its instance is gone (as for Image). */
    explicit operator bool() const noexcept {
        return !levels_.empty() && std::all_of(levels_.begin(), levels_.end(),
                                               [](const Image& level) { return static_cast<bool>(level); });
    }
    /* Size of the full image in pixels; 0 when empty. */
    std::uint32_t width() const noexcept { return levels_.empty() ? 0 : levels_[0].width(); }
    std::uint32_t height() const noexcept { return levels_.empty() ? 0 : levels_[0].height(); }
    /* Number of levels, the full image included; 0 when empty. */
    std::size_t levels() const noexcept { return levels_.size(); }
    /* Level k (0 is the full image), or an empty Image when there is no level k. Drawn by itself, a
     * level shows blocks not uploaded yet as white quads. */
    const Image& level(std::size_t k) const noexcept {
        static const Image none;
        return k < levels_.size() ? levels_[k] : none;
    }
    /* How many rows of level k, from the top, hold the pixels of the latest upload: the band rows
     * uploaded so far, and of each level below the rows made from them, which go up a band of
     * ZELVAN_BLOCK_SIZE rows at a time, or all that are left once the band reaching the bottom is in.
     * The level's height once complete; 0 before any upload, when there is no level k, or for
     * rows [0, ...) of a building started again at row 0 and not uploaded yet. */
    std::uint32_t rowsUploaded(std::size_t k) const noexcept {
        return k < rows_.size() ? rows_[k].uploaded : 0;
    }
    /* True when every level holds the pixels of the latest building, complete. */
    bool complete() const noexcept {
        return !levels_.empty() && rowsUploaded(levels_.size() - 1) == levels_.back().height();
    }

    /*
     * Uploads the image and builds every level, from one buffer as Image::upload takes it.
     * Returns: true when every level was uploaded. False with nothing uploaded when the pyramid is
     * empty, its instance is gone, or the buffer is refused as Image::upload refuses it, or when
     * memory for the building runs out; false also when a block's upload fails.
     * OpenGL: context current (a compatibility-profile one, as for Image).
     */
    bool upload(const void* pixels, std::size_t pitch, std::size_t bytes) noexcept {
        if (!*this) return false;
        if (width() == 0 || height() == 0) return true;
        return uploadRows(0, height(), pixels, pitch, bytes);
    }

    /*
     * Uploads rows [firstRow, firstRow + rowCount) as Image::uploadRows does (bytes the size of the
     * buffer) and builds the levels below from them, band by band: no level is ever held whole in
     * memory, only up to ZELVAN_BLOCK_SIZE of its rows while they wait to form a band. Bands go from
     * the top down: firstRow 0 starts a building (dropping one left unfinished), every later band
     * starts where the one before ended, and the band that reaches the bottom finishes every level.
     * Returns: true when the band and the level rows it completed were uploaded. False with nothing
     * uploaded when the pyramid is empty or its instance gone, the band is refused as
     * Image::uploadRows refuses it, it does not start where the previous one ended, or memory for the
     * building runs out; false also when a block's upload fails, which ends the building (start
     * again at row 0).
     * OpenGL: context current.
     */
    bool uploadRows(std::uint32_t firstRow, std::uint32_t rowCount, const void* pixels, std::size_t pitch,
                    std::size_t bytes) noexcept {
        if (levels_.empty() || !detail::bandFits(width(), height(), firstRow, pixels, pitch, rowCount) ||
            !detail::bufferHolds(width(), rowCount, pitch, bytes) || !*this)
            return false;
        const bool continues = building_ && firstRow == nextRow_;
        if (firstRow != 0 && !continues) return false;
        if (firstRow == 0 && !startBuilding()) return false;
        const bool ok = uploadLevelRows(0, firstRow, rowCount, pixels, pitch, bytes) &&
                        reduce(0, static_cast<const unsigned char*>(pixels), pitch, rowCount);
        nextRow_ = firstRow + rowCount;
        if (!ok || nextRow_ == height()) stopBuilding();
        return ok;
    }

    /* Places every level by the image's centre, each scaled to cover the full image's area.
     * OpenGL: not needed. */
    void place(const Placement& placement) noexcept {
        placement_ = placement;
        for (std::size_t k = 0; k < levels_.size(); ++k) levels_[k].place(levelPlacement(k));
    }

    /*
     * The finer of the levels draw shows: k = floor(log2(1 / s)), clamped to the levels there are,
     * where s = min(|scaleX|, |scaleY|) * |pixelsPerUnit| is the number of screen pixels per image
     * pixel in the direction shrunk most; level 0 when s >= 1 (or s is not a number)
     * (detail::levelsFor).
     */
    std::size_t levelFor(double pixelsPerUnit) const noexcept { return blendFor(pixelsPerUnit).finer; }

    /*
     * Draws the picture for the scale on screen, pixelsPerUnit being the screen pixels per unit of
     * the current matrix and projection (1 under glOrtho over the viewport's pixels). At s >= 1 this
     * is level 0, drawn exactly as an Image with the same placement. Smaller, the level finer than s
     * is drawn three times, each at a third of the placement's opacity and moved by a third of a
     * screen pixel along a different line (detail::blendPasses): the frame stays close to the picture
     * box-filtered at s, and a line one pixel wide never vanishes, as it can when a level finer than
     * the screen is sampled once. The shifts are along the picture's turned axes, powers of two in
     * units, so that the blocks still meet edge to edge.
     * Before any upload nothing is drawn. While the levels stream in, only rows uploaded are drawn,
     * and up to kFillLevels finer levels fill the rows the coarser ones have not reached. So that no
     * block without its pixels shows (white, as the library draws it), the first such draw gives each
     * block below the rows uploaded of the levels drawn a transparent texture: about one upload of
     * those levels' blocks, paid only by callers who draw before the upload is complete. Where levels
     * overlap while loading, a translucent picture shows them one over the other.
     * OpenGL: context current, a compatibility-profile one (see Image::draw). Leaves OpenGL state as
     * ZelvanDraw does.
     */
    void draw(double pixelsPerUnit = 1.0) const noexcept { draw(pixelsPerUnit, detail::kDefaultPasses); }

    /*
     * As draw(pixelsPerUnit), the finer level drawn `passes` times (clamped to 1 to 16; 3 is draw's),
     * each at its share of the placement's opacity, offset on an even pattern of sub-pixel points
     * (detail::passOffset: n points, each axis seeing n evenly spaced offsets, 16 of them a sixteenth of a
     * pixel apart; 4 a 2 x 2 grid). More passes come closer to the picture box-filtered at the scale: on
     * detail as fine as the finer level's texels, 16 passes about 1.4 times as close as 3, as close as
     * nearest texels blended in 8 bits allow; a 1-pixel line keeps at least half its light at any phase
     * down to 1/12 at 3, 4 or 16 passes. 1 pass, a level finer than the screen sampled once, shows
     * moire. Cost: one draw of the finer level a pass, for frames drawn between two levels (16 passes
     * about 5 times the time of 3): for stills and views at rest, where time does not matter.
     */
    void draw(double pixelsPerUnit, int passes) const noexcept {
        if (!*this) return;
        const detail::LevelBlend blend = blendFor(pixelsPerUnit);
        const bool loading = !isComplete(blend.coarser) || !isComplete(blend.finer);
        if (loading) {  // finest first: each coarser level covers the rows it has
            for (std::size_t k = blend.coarser - std::min(blend.coarser, kFillLevels); k < blend.coarser; ++k)
                drawLevel(k, 1, 0, 0, loading);
        }
        for (const detail::BlendPass& pass :
             detail::blendPasses(blend, placement_.alpha / 255.0, pixelsPerUnit, passes))
            drawLevel(pass.coarser ? blend.coarser : blend.finer, pass.opacity, pass.shiftX, pass.shiftY,
                      loading);
    }

private:
    detail::LevelBlend blendFor(double pixelsPerUnit) const noexcept {
        const double s =
            std::min(std::fabs(placement_.scaleX), std::fabs(placement_.scaleY)) * std::fabs(pixelsPerUnit);
        return detail::levelsFor(s, levels_.size());
    }

    bool isComplete(std::size_t k) const noexcept { return rows_[k].uploaded == levels_[k].height(); }

    /* Level k's placement: the pyramid's, scaled for the level to cover the full image's area. */
    Placement levelPlacement(std::size_t k) const noexcept {
        const auto ratio = [](std::uint32_t full, std::uint32_t part) {
            return part == full || part == 0 ? 1.0 : static_cast<double>(full) / part;
        };
        Placement scaled = placement_;
        scaled.scaleX *= ratio(width(), levels_[k].width());
        scaled.scaleY *= ratio(height(), levels_[k].height());
        return scaled;
    }

    /* Draws level k at `opacity` times the placement's, moved by shiftX and shiftY units along the axes
     * of its turned frame; while loading, only the rows it has uploaded (none, when it has none). Leaves
     * it as placed. */
    void drawLevel(std::size_t k, double opacity, float shiftX, float shiftY, bool loading) const noexcept {
        const auto alpha = static_cast<std::uint8_t>(std::lround(placement_.alpha * std::min(opacity, 1.0)));
        if (alpha == 0 || (loading && (rows_[k].uploaded == 0 || !clearBelowUploaded(k)))) return;
        const Image& level = levels_[k];
        const bool shifted = shiftX != 0 || shiftY != 0;
        const auto move = [&](float x, float y) {
            detail::translateShifted(level.handle(), levelPlacement(k), level.width(), level.height(), x, y);
        };
        if (alpha != placement_.alpha) ZelvanAlpha(level.handle(), alpha);
        if (shifted) move(shiftX, shiftY);
        level.draw();
        if (shifted) move(0, 0);
        if (alpha != placement_.alpha) ZelvanAlpha(level.handle(), placement_.alpha);
    }

    /* Gives every block of level k between its uploaded rows and its transparent ones a texture of
     * transparent texels. ZelvanSetBlockPtr takes a pitch of 1, rows overlapping, so one block row
     * of zeros holds every block. */
    bool clearBelowUploaded(std::size_t k) const noexcept {
        static const unsigned char zeros[detail::kBlockSide * 4 + detail::kBlockSide - 1] = {};
        detail::LevelRows& rows = rows_[k];
        const ZelvanHandle handle = levels_[k].handle();
        const std::uint32_t columns = ZelvanGetHBlocks(handle);
        const std::uint32_t end = detail::blocksAlong(rows.clearFrom);
        for (std::uint32_t row = detail::blocksAlong(rows.uploaded); row < end; ++row)
            for (std::uint32_t col = 0; col < columns; ++col)
                if (!ZelvanSetBlockPtr(handle, row, col, zeros, 1)) return false;
        rows.clearFrom = rows.uploaded;
        return true;
    }

    /* Uploads rows of level k, keeping account of what its blocks hold. */
    bool uploadLevelRows(std::size_t k, std::uint32_t firstRow, std::uint32_t rowCount, const void* pixels,
                         std::size_t pitch, std::size_t bytes) noexcept {
        detail::LevelRows& rows = rows_[k];
        const std::uint32_t end = firstRow + rowCount;
        rows.clearFrom = std::max(rows.clearFrom, end);  // pixels now, or part of them after a failure
        if (!levels_[k].uploadRows(firstRow, rowCount, pixels, pitch, bytes)) return false;
        rows.uploaded = end;
        return true;
    }

    bool startBuilding() noexcept {
        try {
            carries_.resize(levels_.size());
        } catch (...) {  // std::bad_alloc
            stopBuilding();
            return false;
        }
        for (detail::LevelRows& rows : rows_) rows.uploaded = 0;
        for (std::size_t k = 1; k < levels_.size(); ++k) {
            const Image& level = levels_[k];
            const std::size_t rows = std::min(level.height(), detail::kBlockSide);
            carries_[k].rows.reset(new (std::nothrow) unsigned char[rows * level.width() * 4]);
            carries_[k].count = carries_[k].nextRow = 0;
            if (!carries_[k].rows) {
                stopBuilding();
                return false;
            }
        }
        building_ = true;
        return true;
    }

    void stopBuilding() noexcept {
        carries_.clear();
        carries_.shrink_to_fit();
        building_ = false;
    }

    /* Makes level k + 1's rows from count rows of level k (starting at an even row), uploading and
     * passing on every band of them as it completes. */
    bool reduce(std::size_t k, const unsigned char* rows, std::size_t pitch, std::uint32_t count) noexcept {
        if (k + 1 >= levels_.size()) return true;
        detail::Carry& carry = carries_[k + 1];
        const Image& next = levels_[k + 1];
        const std::size_t nextPitch = std::size_t{next.width()} * 4;
        for (std::uint32_t r = 0; r < count; r += 2) {
            const unsigned char* top = rows + std::size_t{r} * pitch;
            detail::halveRows(top, r + 1 < count ? top + pitch : nullptr, levels_[k].width(),
                              carry.rows.get() + std::size_t{carry.count} * nextPitch);
            ++carry.count;
            if (carry.count < detail::kBlockSide && carry.nextRow + carry.count < next.height()) continue;
            const std::uint32_t band = carry.count;
            if (!uploadLevelRows(k + 1, carry.nextRow, band, carry.rows.get(), nextPitch, band * nextPitch))
                return false;
            carry.nextRow += band;
            carry.count = 0;
            if (!reduce(k + 1, carry.rows.get(), nextPitch, band)) return false;
        }
        return true;
    }

    std::vector<Image> levels_;
    mutable std::vector<detail::LevelRows> rows_;  // per level; draw makes blocks transparent
    std::vector<detail::Carry> carries_;           // per level (0 unused), only while building
    Placement placement_;
    std::uint32_t nextRow_ = 0;  // the row of the full image the next band starts at
    bool building_ = false;
};

}  // namespace zelvan

#endif /* ZELVAN_PYRAMID_HPP */
