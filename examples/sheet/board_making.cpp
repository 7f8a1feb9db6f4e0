#include "board_making.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "program.h"
#include "sheet_entries.h"
#include "sheet_layout.h"

namespace zelvan_demo {

namespace {

std::unique_ptr<zelvan::sources::PictureSource> openSource(const std::string& path,
                                                           const zelvan::sources::OpenOptions& sources,
                                                           std::string& error) {
    zelvan::sources::Opened opened = zelvan::sources::open(path, sources);
    if (!opened) error = opened.error;
    return std::move(opened.source);
}

// The first picture, opened now: a picture that cannot be shown fails the program.
BoardPiece firstPiece(const std::string& path, const zelvan::sources::OpenOptions& sources) {
    BoardPiece piece;
    piece.path = path;
    std::string error;
    piece.source = openSource(path, sources, error);
    if (!piece.source) throw DemoError(error);
    piece.width = piece.source->info().width;
    piece.height = piece.source->info().height;
    return piece;
}

}  // namespace

SheetLayout gridCells(std::size_t count, std::size_t columns, std::uint32_t largestWidth,
                      std::uint32_t largestHeight) {
    return SheetLayout::ofCells(count, columns, std::int64_t(largestWidth) + (largestWidth + 31) / 32,
                                std::int64_t(largestHeight) + (largestHeight + 31) / 32);
}

OnBoard gridPlace(const SheetLayout& cells, std::size_t index) {
    const Cell cell = cells.cell(index);
    return {double(cell.left + cell.right) / 2, double(cell.top + cell.bottom) / 2, 1, 255};
}

std::unique_ptr<PictureBoard> makeBoard(SheetViews& views, const BoardRequest& request,
                                        const zelvan::sources::OpenOptions& sources, std::size_t kept) {
    auto opener = [sources](const std::string& path, std::string& error) {
        return openSource(path, sources, error);
    };
    if (request.columns == 0) {
        BoardPiece main = firstPiece(request.inputs.front(), sources);
        const double width = main.width, height = main.height;
        main.on = {width / 2, height / 2, 1, 255};
        auto board = std::make_unique<PictureBoard>(views, width, height, opener, kept);
        board->add(std::move(main));
        if (!request.overlay.empty()) {
            BoardPiece over = firstPiece(request.overlay, sources);
            over.on = overlaid(over.width, over.height, request.offsetX, request.offsetY,
                               request.overlayScale, std::uint8_t(std::lround(request.overlayOpacity * 255)));
            board->add(std::move(over));
        }
        return board;
    }
    std::vector<SheetEntry> entries = sheetEntries(request.inputs, [](const std::string& line) {
        std::fprintf(stderr, "zelvan-view: warning: %s\n", line.c_str());
    });
    if (entries.empty()) throw DemoError("--sheet: no pictures to show in what was named");
    // A URL or a store tells its size once opened: opened now, and kept.
    std::vector<BoardPiece> pieces(entries.size());
    std::uint32_t largestWidth = 1, largestHeight = 1;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        BoardPiece& piece = pieces[k];
        piece.path = entries[k].path;
        piece.width = entries[k].width;
        piece.height = entries[k].height;
        if (piece.width == 0 && (piece.source = openSource(piece.path, sources, piece.failure))) {
            piece.width = piece.source->info().width;
            piece.height = piece.source->info().height;
        }
        if (!piece.failure.empty())
            std::fprintf(stderr, "zelvan-view: warning: %s; its cell is left empty\n", piece.failure.c_str());
        largestWidth = std::max(largestWidth, piece.width);
        largestHeight = std::max(largestHeight, piece.height);
    }
    const SheetLayout cells = gridCells(pieces.size(), request.columns, largestWidth, largestHeight);
    // Thumbnails for every piece, within a quarter of the budget: the scene's views get the rest.
    const std::uint64_t each =
        zelvan::Image::textureBytes(PictureBoard::kThumbnailSide, PictureBoard::kThumbnailSide);
    const std::size_t thumbnails = std::min<std::size_t>(pieces.size(), views.budgetBytes() / 4 / each);
    views.reserve(thumbnails * each);
    auto board = std::make_unique<PictureBoard>(views, double(cells.width()), double(cells.height()), opener,
                                                kept, thumbnails);
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        pieces[k].on = gridPlace(cells, k);
        board->add(std::move(pieces[k]));
    }
    return board;
}

}  // namespace zelvan_demo
