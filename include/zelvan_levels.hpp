/*
 * Zelvan for C++: the level arithmetic that Pyramid and TileView draw by, the one home of the halving
 * rule, for programs that make, read or choose half-size levels of their own (a pyramid written to a
 * file, a picture read already halved, a server's levels). Using these keeps a program's levels and its
 * choice of level the same as the library's drawing.
 *
 * Header-only C++17, over zelvan.hpp; nothing here calls OpenGL or any function of zelvan.h.
 * zelvan_pyramid.hpp includes this header; it does not include zelvan_pyramid.hpp.
 *
 *     const std::size_t count = zelvan::levelCount(width, height);   // level k: levelSide(width, k) x ...
 *     const zelvan::LevelBlend blend = zelvan::levelsFor(screenPixelsPerPixel, count);
 *     // read level blend.finer (and blend.coarser) of your file, or make them with halveRows:
 *     zelvan::halveRows(row0, row1, width, halved);   // rows 2y and 2y + 1 of a level -> row y of the next
 *     bool next = zelvan::isHalving(width, fileLevelWidth);           // a file's level: the next one?
 *
 * Errors: nothing here throws or fails.
 * Threads: every function may run on any thread, several at once.
 */
#ifndef ZELVAN_LEVELS_HPP
#define ZELVAN_LEVELS_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "zelvan.hpp"

namespace zelvan {

namespace detail {

/* sRGB to linear light in 16 bits, and back. Built once, on first use. */
struct SrgbTables {
    std::uint16_t linear[256];
    std::uint8_t encoded[65536];
};

/* Fills the tables. A plain function rather than a lambda: a compiler may try to evaluate a lambda
 * initialiser at compile time, and these 65,792 powers took it seconds in every file including this. */
inline void buildSrgbTables(SrgbTables& t) noexcept {
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
}

inline const SrgbTables& srgbTables() noexcept {
    static const struct Built : SrgbTables {
        Built() noexcept : SrgbTables{} { buildSrgbTables(*this); }
    } tables;
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

}  // namespace detail

/*
 * The levels to draw for a scale: the two nearest, `finer` (the lower index, 0 being the full picture)
 * and `coarser`, which shows where the finer one is missing. When one level alone is right,
 * finer == coarser.
 */
using LevelBlend = detail::LevelBlend;

/*
 * The levels Pyramid::draw and TileView::draw draw for a picture of levelCount half-size levels (level
 * k about 2^-k of the full size) seen at screenPixelsPerPixel screen pixels per pixel of level 0, in the
 * direction it shrinks most.
 * Returns: level 0 alone at screenPixelsPerPixel >= 1 or not a number; level k alone at exactly 2^-k;
 * the last level alone below its scale (and for 0 or less); between 2^-k and 2^-(k+1), finer k and
 * coarser k + 1. {0, 0} for levelCount 0. finer is the level whose pixels are needed: a program that only
 * ever draws at this scale can leave out the levels before it. Threads: any. Cost: one logarithm.
 */
inline LevelBlend levelsFor(double screenPixelsPerPixel, std::size_t levelCount) noexcept {
    return detail::levelsFor(screenPixelsPerPixel, levelCount);
}

/*
 * The most levels a picture may have, the full picture included. A side of 2^32 - 1 pixels halves to 1
 * in 33 levels (levelCount never gives more); a TileSource offering more than this is refused, and
 * Zelvan::sources looks through no more of a file's pages or a server's levels than this.
 */
constexpr std::size_t kMaxLevels = 64;

/*
 * A side of level k, for that side of the full picture: halved k times, rounded up each time (which is
 * ceil(side / 2^k)), as Pyramid's levels and levelCount's count are.
 * Returns: at least 1 for a side of 1 or more; 0 for 0; side for k = 0. Threads: any.
 * Cost: one step per level, at most 32 (past that every side is 1).
 */
constexpr std::uint32_t levelSide(std::uint32_t side, std::size_t k) noexcept {
    for (; k > 0 && side > 1; --k) side = side / 2 + side % 2;
    return side;
}

/*
 * The number of levels of a width x height picture as Pyramid makes them, the full picture included:
 * each level halves the one before, sides rounded up (levelSide), down to 1 x 1.
 * Returns: 1 + ceil(log2) of the longer side, at most 33 (never more than kMaxLevels); 1 for a side of 0
 * or a 1 x 1 picture. Threads: any. Cost: one step per level, at most 33.
 */
constexpr std::size_t levelCount(std::uint32_t width, std::uint32_t height) noexcept {
    std::size_t count = 1;
    for (std::uint32_t side = std::max(width, height); width != 0 && height != 0 && side > 1; ++count)
        side = side / 2 + side % 2;
    return count;
}

/*
 * Whether `coarser` pixels can be a side of the level after a level `finer` pixels across: finer halved,
 * rounded down or up, or within `slack` pixels of either (for files whose makers rounded otherwise, or
 * scaled a level from the full picture rather than from the one before). Levels this library makes,
 * servers' and files' levels that halve exactly, pass with slack 0.
 * Returns: true for coarser in [finer / 2 - slack, (finer + 1) / 2 + slack] (the low end no less than
 * 0), false otherwise; so isHalving(1, 1) and isHalving(0, 0) are true. Threads: any. Cost: a comparison.
 */
constexpr bool isHalving(std::uint32_t finer, std::uint32_t coarser, std::uint32_t slack = 0) noexcept {
    const std::uint64_t low = finer / 2, high = finer / 2 + finer % 2;
    return std::uint64_t{coarser} + slack >= low && coarser <= high + slack;
}

/*
 * One row of the next level from two rows of a level, averaged as Pyramid averages its levels: each
 * output pixel from the 2 x 2 pixels under it, colour in linear light (sRGB decoded, averaged, encoded
 * again) weighted by alpha so that transparent pixels lend it no colour, alpha averaged.
 * top, bottom: rows of width pixels, 4 bytes each, blue, green, red, alpha in memory; bottom null for
 * the odd last row of a level of odd height, which is then averaged alone (1 x 2 pixels, or 1 x 1).
 * out: receives levelSide(width, 1) pixels (the odd last column averages the pixels there are); it may
 * not overlap top or bottom. Nothing is written for width 0.
 * Threads: any, several at once (the conversion tables are built once, on the first call anywhere).
 * Cost: linear in width, a few table look-ups a pixel; the first call builds the 64 KiB of tables
 * (65,792 calls of std::pow).
 */
inline void halveRows(const unsigned char* top, const unsigned char* bottom, std::uint32_t width,
                      unsigned char* out) noexcept {
    detail::halveRows(top, bottom, width, out);
}

}  // namespace zelvan

#endif /* ZELVAN_LEVELS_HPP */
