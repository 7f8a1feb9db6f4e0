#include "sheet_layout.h"

#include <cmath>

namespace zelvan_demo {

SheetLayout::SheetLayout(std::size_t count, std::size_t columns, std::int64_t width, std::int64_t height)
    : width_(width), height_(height) {
    if (count == 0 || columns == 0) return;
    count_ = count;
    columns_ = columns;
    rows_ = (count + columns - 1) / columns;
}

SheetLayout SheetLayout::ofCells(std::size_t count, std::size_t columns, std::int64_t cellWidth,
                                 std::int64_t cellHeight) {
    const std::size_t rows = columns == 0 ? 0 : (count + columns - 1) / columns;
    return SheetLayout(count, columns, cellWidth * std::int64_t(columns), cellHeight * std::int64_t(rows));
}

std::int64_t SheetLayout::edge(std::size_t line, std::size_t lines, std::int64_t length) const {
    // Rounded down, so that cells differ by a pixel at most and the last one ends at the sheet's edge.
    return std::int64_t(line) * length / std::int64_t(lines);
}

Cell SheetLayout::cell(std::size_t index) const {
    const std::size_t column = index % columns_, row = index / columns_;
    return {edge(column, columns_, width_), edge(row, rows_, height_), edge(column + 1, columns_, width_),
            edge(row + 1, rows_, height_)};
}

std::optional<std::size_t> SheetLayout::cellAt(double x, double y) const {
    if (count_ == 0 || !(x >= 0 && x < double(width_) && y >= 0 && y < double(height_))) return std::nullopt;
    // The guess from the even share, then the pixel's own cell by the edges' rounding.
    std::size_t column = std::size_t(x * double(columns_) / double(width_));
    std::size_t row = std::size_t(y * double(rows_) / double(height_));
    while (column + 1 < columns_ && x >= double(edge(column + 1, columns_, width_))) ++column;
    while (column > 0 && x < double(edge(column, columns_, width_))) --column;
    while (row + 1 < rows_ && y >= double(edge(row + 1, rows_, height_))) ++row;
    while (row > 0 && y < double(edge(row, rows_, height_))) --row;
    const std::size_t index = row * columns_ + column;
    if (index >= count_) return std::nullopt;  // the last row's empty end
    return index;
}

zelvan::Placement SheetLayout::fitted(std::size_t index, std::uint32_t pictureWidth,
                                      std::uint32_t pictureHeight) const {
    const Cell box = cell(index);
    zelvan::Placement placement =
        zelvan::fit(pictureWidth, pictureHeight, double(box.width()), double(box.height()));
    placement.centreX += double(box.left);
    placement.centreY += double(height_ - box.bottom);
    return placement;
}

}  // namespace zelvan_demo
