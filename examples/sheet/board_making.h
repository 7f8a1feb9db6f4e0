#pragma once
// The boards zelvan-view shows: pictures side by side in a grid of cells (--sheet: a contact sheet, a
// folder standing for its pictures), or one picture with another over it; each with a navigator to show
// on demand.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "picture_board.h"
#include "sheet_layout.h"
#include "sheet_views.h"
#include "zelvan_sources.hpp"

namespace zelvan_demo {

struct BoardRequest {
    std::vector<std::string> inputs;  // pictures, or folders of them (in name order)
    std::size_t columns = 0;          // a grid of this many columns; 0: the first picture alone
    // Another picture over the first: its top-left corner at (offsetX, offsetY) of the first one's pixels,
    // `overlayScale` of them per pixel of its own, at `overlayOpacity` (0 to 1).
    std::string overlay;
    double overlayOpacity = 0.5, offsetX = 0, offsetY = 0, overlayScale = 1;
};

// The largest picture's size, a cell: each picture at one board pixel per pixel of its own, centred in its
// cell, so that the board shown at one screen pixel per board pixel shows every picture at 1:1. Cells a
// 32nd of their size apart.
OnBoard gridPlace(const SheetLayout& cells, std::size_t index);
SheetLayout gridCells(std::size_t count, std::size_t columns, std::uint32_t largestWidth,
                      std::uint32_t largestHeight);

// The board `request` asks for, its pieces opened as `sources` says (pictures in a folder only as they are
// first shown, at most `kept` open at once). A folder's files that are no pictures are skipped with a
// warning on stderr. Throws DemoError when there is no picture, or the first one named cannot be opened.
// OpenGL: context current.
std::unique_ptr<PictureBoard> makeBoard(SheetViews& views, const BoardRequest& request,
                                        const zelvan::sources::OpenOptions& sources, std::size_t kept);

}  // namespace zelvan_demo
