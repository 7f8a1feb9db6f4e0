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

namespace zelvan {

namespace detail {

/* sRGB to linear light in 16 bits, and back. Built once, on first use. */
struct SrgbTables {
    std::uint16_t linear[256];
    std::uint8_t encoded[65536];
};

inline const SrgbTables& srgbTables() noexcept {
    static const SrgbTables tables = [] {
        SrgbTables t{};
        for (int v = 0; v < 256; ++v) {
            const double c = v / 255.0;
            const double linear = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            t.linear[v] = static_cast<std::uint16_t>(std::lround(linear * 65535));
        }
        for (int l = 0; l < 65536; ++l) {
            const double linear = l / 65535.0;
            const double c = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
            t.encoded[l] = static_cast<std::uint8_t>(std::lround(c * 255));
        }
        return t;
    }();
    return tables;
}

/* One pixel of the next level from N blue-green-red-alpha pixels (4 inside the image, fewer at an
 * odd last row or column): colour averaged in linear light and weighted by alpha, so transparent
 * pixels lend it nothing; alpha averaged. */
template <typename... Pixel>
inline void averagePixels(const SrgbTables& t, unsigned char* out, Pixel... pixels) noexcept {
    constexpr unsigned n = sizeof...(pixels);
    const unsigned alphaSum = (0u + ... + pixels[3]);
    out[3] = static_cast<unsigned char>((alphaSum + n / 2) / n);
    if (alphaSum == 255 * n || alphaSum == 0) {  // opaque (the usual case) or invisible: plain average
        for (int c = 0; c < 3; ++c) out[c] = t.encoded[((0u + ... + t.linear[pixels[c]]) + n / 2) / n];
        return;
    }
    const double perAlpha = 1.0 / alphaSum;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t sum = (0u + ... + (std::uint32_t{t.linear[pixels[c]]} * pixels[3]));
        out[c] = t.encoded[static_cast<std::uint32_t>(sum * perAlpha + 0.5)];
    }
}

/* One row of the next level from one or two rows (bottom null at an odd last row) of width pixels;
 * an odd last column averages the pixels there are. */
inline void halveRows(const unsigned char* top, const unsigned char* bottom, std::uint32_t width,
                      unsigned char* out) noexcept {
    const SrgbTables& t = srgbTables();
    std::uint32_t x = 0;
    for (; x + 1 < width; x += 2, top += 8, out += 4) {
        if (bottom != nullptr) {
            averagePixels(t, out, top, top + 4, bottom, bottom + 4);
            bottom += 8;
        } else {
            averagePixels(t, out, top, top + 4);
        }
    }
    if (x == width) return;
    if (bottom != nullptr)
        averagePixels(t, out, top, bottom);
    else
        averagePixels(t, out, top);
}

/* Rows of one level made but not yet uploaded: at most one band of 512. */
struct Carry {
    std::unique_ptr<unsigned char[]> rows;  // left uninitialised: every byte is written before it is read
    std::uint32_t count = 0;                // rows held
    std::uint32_t nextRow = 0;              // the level's row the first of them goes to
};

}  // namespace detail

/*
 * An image with half-size levels down to 1 x 1 (sides rounded up), each level a Zelvan image of its
 * own: about one third more texture memory than the image alone. Each level averages 2 x 2 pixels
 * of the one above in linear light, colour weighted by alpha. draw picks the level for the scale on
 * screen, so an image drawn small shows the average of its pixels instead of a moire of some of them.
 * Move-only; a moved-from Pyramid is empty. An empty Pyramid accepts every call and does nothing.
 */
class Pyramid {
public:
    /* An empty pyramid. */
    Pyramid() noexcept = default;

    /* A pyramid for a width x height image; no pixel uploaded. Empty when the library refuses any
     * level or memory runs out. An image of width or height 0 has one level, itself.
     * OpenGL: as ZelvanCreate (normally not needed). */
    Pyramid(std::uint32_t width, std::uint32_t height) noexcept {
        try {
            std::vector<Image> levels;
            levels.emplace_back(width, height);
            while (levels.back() && width != 0 && height != 0 && (width > 1 || height > 1)) {
                width = width / 2 + width % 2;
                height = height / 2 + height % 2;
                levels.emplace_back(width, height);
            }
            if (levels.back()) levels_ = std::move(levels);
        } catch (...) {  // std::bad_alloc: the levels made so far go with `levels`
        }
    }

    Pyramid(Pyramid&&) noexcept = default;
    Pyramid& operator=(Pyramid&&) noexcept = default;
    Pyramid(const Pyramid&) = delete;
    Pyramid& operator=(const Pyramid&) = delete;

    /* True unless empty. */
    explicit operator bool() const noexcept { return !levels_.empty(); }
    /* Size of the full image in pixels; 0 when empty. */
    std::uint32_t width() const noexcept { return levels_.empty() ? 0 : levels_[0].width(); }
    std::uint32_t height() const noexcept { return levels_.empty() ? 0 : levels_[0].height(); }
    /* Number of levels, the full image included; 0 when empty. */
    std::size_t levels() const noexcept { return levels_.size(); }
    /* Level k (0 is the full image), or an empty Image when there is no level k. */
    const Image& level(std::size_t k) const noexcept {
        static const Image none;
        return k < levels_.size() ? levels_[k] : none;
    }

    /*
     * Uploads the image and builds every level, from one buffer as Image::upload takes it.
     * Returns: true when every level was uploaded. False with nothing uploaded when the pyramid is
     * empty or the buffer is refused as Image::upload refuses it, or when memory for the building
     * runs out; false also when a block's upload fails.
     * OpenGL: context current.
     */
    bool upload(const void* pixels, std::size_t pitch, std::size_t bytes) noexcept {
        if (levels_.empty()) return false;
        if (width() == 0 || height() == 0) return true;
        return detail::bandFits(width(), height(), 0, pixels, pitch, height()) &&
               detail::bufferHolds(width(), height(), pitch, bytes) && uploadRows(0, pixels, pitch, height());
    }

    /*
     * Uploads rows [firstRow, firstRow + rowCount) as Image::uploadRows does and builds the levels
     * below from them, band by band: no level is ever held whole in memory, only up to 512 of its
     * rows while they wait to form a band. Bands go from the top down: firstRow 0 starts a building
     * (dropping one left unfinished), every later band starts where the one before ended, and the band
     * that reaches the bottom finishes every level.
     * Returns: true when the band and the level rows it completed were uploaded. False with nothing
     * uploaded when the pyramid is empty, the band is refused as Image::uploadRows refuses it, it
     * does not start where the previous one ended, or memory for the building runs out; false also
     * when a block's upload fails, which ends the building (start again at row 0).
     * OpenGL: context current.
     */
    bool uploadRows(std::uint32_t firstRow, const void* pixels, std::size_t pitch,
                    std::uint32_t rowCount) noexcept {
        if (levels_.empty() || !detail::bandFits(width(), height(), firstRow, pixels, pitch, rowCount))
            return false;
        const bool continues = building_ && firstRow == nextRow_;
        if (firstRow != 0 && !continues) return false;
        if (firstRow == 0 && !startBuilding()) return false;
        bool ok = levels_[0].uploadRows(firstRow, pixels, pitch, rowCount) &&
                  reduce(0, static_cast<const unsigned char*>(pixels), pitch, rowCount);
        nextRow_ = firstRow + rowCount;
        if (!ok || nextRow_ == height()) stopBuilding();
        return ok;
    }

    /* Places every level by the image's centre, each scaled to cover the full image's area.
     * OpenGL: not needed. */
    void place(const Placement& placement) noexcept {
        placement_ = placement;
        const auto ratio = [](std::uint32_t full, std::uint32_t part) {
            return part == full || part == 0 ? 1.0 : static_cast<double>(full) / part;
        };
        for (Image& level : levels_) {
            Placement scaled = placement;
            scaled.scaleX = placement.scaleX * ratio(width(), level.width());
            scaled.scaleY = placement.scaleY * ratio(height(), level.height());
            level.place(scaled);
        }
    }

    /*
     * The level draw picks: k = floor(log2(1 / s)), clamped to the levels there are, where
     * s = min(|scaleX|, |scaleY|) * |pixelsPerUnit| is the number of screen pixels per image pixel in
     * the direction shrunk most. Level 0 when s >= 1 (or s is not a number).
     */
    std::size_t levelFor(double pixelsPerUnit) const noexcept {
        if (levels_.empty()) return 0;
        const double s =
            std::min(std::fabs(placement_.scaleX), std::fabs(placement_.scaleY)) * std::fabs(pixelsPerUnit);
        const std::size_t last = levels_.size() - 1;
        if (!(s < 1)) return 0;
        if (!(s > 0)) return last;
        const double k = std::floor(std::log2(1 / s));
        return k >= static_cast<double>(last) ? last : static_cast<std::size_t>(k);
    }

    /* Draws the level for the scale on screen, pixelsPerUnit being the screen pixels per unit of the
     * current matrix and projection (1 under glOrtho over the viewport's pixels). At s >= 1 this is
     * level 0, drawn exactly as an Image with the same placement.
     * OpenGL: context current. */
    void draw(double pixelsPerUnit = 1.0) const noexcept {
        if (!levels_.empty()) levels_[levelFor(pixelsPerUnit)].draw();
    }

private:
    bool startBuilding() noexcept {
        try {
            carries_.resize(levels_.size());
        } catch (...) {  // std::bad_alloc
            stopBuilding();
            return false;
        }
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
            if (!levels_[k + 1].uploadRows(carry.nextRow, carry.rows.get(), nextPitch, band)) return false;
            carry.nextRow += band;
            carry.count = 0;
            if (!reduce(k + 1, carry.rows.get(), nextPitch, band)) return false;
        }
        return true;
    }

    std::vector<Image> levels_;
    std::vector<detail::Carry> carries_;  // per level (0 unused), only while building
    Placement placement_;
    std::uint32_t nextRow_ = 0;  // the row of the full image the next band starts at
    bool building_ = false;
};

}  // namespace zelvan

#endif /* ZELVAN_PYRAMID_HPP */
