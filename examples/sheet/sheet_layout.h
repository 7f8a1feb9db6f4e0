#pragma once
// Where the pictures of a contact sheet go: a grid of equal cells, filled a row at a time from the top
// left, each picture fitted into its cell (aspect kept, centred). Plain arithmetic, apart from any
// window or context, so that the programs and their tests share it.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "zelvan.hpp"

namespace zelvan_demo {

// A cell in whole pixels of the sheet, (0, 0) its top-left corner, y down: [left, right) x [top, bottom).
struct Cell {
    std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    std::int64_t width() const { return right - left; }
    std::int64_t height() const { return bottom - top; }
};

class SheetLayout {
public:
    // `count` cells in `columns` columns (rows: as many as they fill) over a sheet of width x height
    // pixels; cells' edges fall on whole pixels, the sheet shared out as evenly as they allow. A layout of
    // no cells for 0 columns or 0 pictures.
    SheetLayout(std::size_t count, std::size_t columns, std::int64_t width, std::int64_t height);
    // Cells `cellWidth` x `cellHeight` pixels each, the sheet as large as they make it.
    static SheetLayout ofCells(std::size_t count, std::size_t columns, std::int64_t cellWidth,
                               std::int64_t cellHeight);

    std::size_t count() const { return count_; }
    std::size_t columns() const { return columns_; }
    std::size_t rows() const { return rows_; }
    std::int64_t width() const { return width_; }
    std::int64_t height() const { return height_; }

    // Cell `index` (< count()).
    Cell cell(std::size_t index) const;
    // The cell under sheet point (x, y) (y down), if any.
    std::optional<std::size_t> cellAt(double x, double y) const;
    // A picture of pictureWidth x pictureHeight as large as fits cell `index`, centred, in the units of a
    // frame whose y grows upwards from the sheet's bottom edge (glOrtho(0, width, 0, height)).
    zelvan::Placement fitted(std::size_t index, std::uint32_t pictureWidth,
                             std::uint32_t pictureHeight) const;

private:
    std::int64_t edge(std::size_t line, std::size_t lines, std::int64_t length) const;

    std::size_t count_ = 0, columns_ = 0, rows_ = 0;
    std::int64_t width_ = 0, height_ = 0;
};

}  // namespace zelvan_demo
