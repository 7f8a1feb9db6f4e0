/*
 * Zelvan for C++: the small types a tile view and its source share: a level's size (TileSize), a frame
 * to draw (Frame) and a tile's place in the grid (TileIndex). zelvan_tiles_source.hpp and
 * zelvan_tiles_options.hpp use them; zelvan_tiles.hpp has the view.
 *
 * Header-only C++17; plain values, nothing here calls OpenGL or allocates.
 */
#ifndef ZELVAN_TILES_TYPES_HPP
#define ZELVAN_TILES_TYPES_HPP

#include <cstdint>

namespace zelvan {

/* A level's size in its own pixels (TileSource::levelSize). A size of 0 either way is no level: a view
 * of such levels is empty (TileViewStatus::BadLevels). */
struct TileSize {
    std::uint32_t width = 0, height = 0;
};

/* One frame: the visible rectangle in the caller's units (y up, as under glOrtho(left, right, bottom,
 * top)) and the screen pixels per unit. */
struct Frame {
    double left = 0, bottom = 0, right = 0, top = 0;
    double pixelsPerUnit = 1;
};

/* A tile: its level and its place in the level's grid of 512 x 512 tiles (column, row from the top left). */
struct TileIndex {
    std::uint32_t level = 0, column = 0, row = 0;
};

/* A point of a plane: the caller's units, or a picture's level-0 pixels (TileView::pictureFromUnits). */
struct PlanePoint {
    double x = 0, y = 0;
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_TYPES_HPP */
