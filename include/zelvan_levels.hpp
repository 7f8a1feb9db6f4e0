/*
 * Zelvan for C++: the level arithmetic that Pyramid and TileView draw by, for programs that make or
 * choose half-size levels of their own (a pyramid written to a file, a picture read already halved).
 * Using these keeps a program's levels and its choice of level the same as the library's drawing.
 *
 * Header-only C++17, over zelvan_pyramid.hpp; nothing here calls OpenGL or any function of zelvan.h.
 *
 *     const std::size_t count = zelvan::levelCount(width, height);   // level k: levelSide(width, k) x ...
 *     const zelvan::LevelBlend blend = zelvan::levelsFor(screenPixelsPerPixel, count);
 *     // read level blend.finer (and blend.coarser) of your file, or make them with halveRows:
 *     zelvan::halveRows(row0, row1, width, halved);   // rows 2y and 2y + 1 of a level -> row y of the next
 *
 * Errors: nothing here throws or fails.
 * Threads: every function may run on any thread, several at once.
 */
#ifndef ZELVAN_LEVELS_HPP
#define ZELVAN_LEVELS_HPP

#include <cstddef>
#include <cstdint>

#include "zelvan.hpp"
#include "zelvan_pyramid.hpp"

namespace zelvan {

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
 * The number of levels of a width x height picture as Pyramid makes them, the full picture included:
 * each level halves the one before, sides rounded up, down to 1 x 1.
 * Returns: 1 + ceil(log2) of the longer side; 1 for a side of 0 or a 1 x 1 picture.
 * Threads: any. Cost: one step per level, at most 33.
 */
inline std::size_t levelCount(std::uint32_t width, std::uint32_t height) noexcept {
    return Pyramid::levelCount(width, height);
}

/*
 * A side of level k, for that side of the full picture: halved k times, rounded up each time, as
 * Pyramid's levels and levelCount's count are.
 * Returns: at least 1 for a side of 1 or more; 0 for 0. Threads: any. Cost: one step per level.
 */
constexpr std::uint32_t levelSide(std::uint32_t side, std::size_t k) noexcept {
    return Pyramid::levelSide(side, k);
}

/*
 * One row of the next level from two rows of a level, averaged as Pyramid averages its levels: each
 * output pixel from the 2 x 2 pixels under it, colour in linear light (sRGB decoded, averaged, encoded
 * again) weighted by alpha so that transparent pixels lend it no colour, alpha averaged.
 * top, bottom: rows of width pixels, 4 bytes each, blue, green, red, alpha in memory; bottom null for
 * the odd last row of a level of odd height, which is then averaged alone (1 x 2 pixels, or 1 x 1).
 * out: receives width / 2 pixels, rounded up (the odd last column averages the pixels there are); it
 * may not overlap top or bottom.
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
