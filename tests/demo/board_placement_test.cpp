// The arithmetic of several pictures shown together: where a board puts each of its pieces, the
// navigator's outline and jump, and the cells of a sheet, checked against the viewer's own inverse
// (view_state.h's imagePointAt), written apart from them.
#include "board_placement.h"

#include <gtest/gtest.h>

#include "opacity_slider.h"
#include "sheet_layout.h"
#include "shown_picture.h"
#include "view_state.h"

using namespace zelvan_demo;

namespace {

zelvan::Placement turnedBoard() {
    zelvan::Placement board;
    board.centreX = 410, board.centreY = 250, board.scaleX = board.scaleY = 0.7, board.rotateZ = 30;
    return board;
}

TEST(BoardPlacement, APieceShowsTheBoardPixelsItCoversEvenTurnedAndScaled) {
    const zelvan::Placement board = turnedBoard();
    const double boardWidth = 1200, boardHeight = 900;
    // A 200 x 100 picture at half scale, its top-left corner at board pixel (240, 175).
    const OnBoard on = overlaid(200, 100, 240, 175, 0.5, 128);
    const zelvan::Placement piece = placedOnBoard(board, boardWidth, boardHeight, on);
    EXPECT_EQ(piece.alpha, 128);
    for (const auto& [x, y] : {std::pair{300.0, 200.0}, {10.0, 470.0}, {640.0, 5.0}}) {
        const ImagePoint onBoard = imagePointAt(board, 1200, 900, x, y);
        const ImagePoint inPiece = imagePointAt(piece, 200, 100, x, y);
        EXPECT_NEAR(inPiece.x, (onBoard.x - 240) / 0.5, 1e-6) << x << ", " << y;
        EXPECT_NEAR(inPiece.y, (onBoard.y - 175) / 0.5, 1e-6) << x << ", " << y;
    }
}

TEST(BoardPlacement, TheNavigatorOutlinesTheFrameAndAClickBringsItsPointToTheCentre) {
    const int frameWidth = 800, frameHeight = 500;
    zelvan::Placement main = turnedBoard();
    const Box box = navigatorBox(4000, 3000, frameWidth, frameHeight);
    EXPECT_LE(box.right, frameWidth);
    EXPECT_LE(box.top, frameHeight);
    EXPECT_NEAR((box.right - box.left) / (box.top - box.bottom), 4.0 / 3, 1e-9);
    zelvan::Placement navigator = zelvan::fit(4000, 3000, box.right - box.left, box.top - box.bottom);
    navigator.centreX += box.left, navigator.centreY += box.bottom;
    const auto outline = shownOutline(main, navigator, 4000, 3000, frameWidth, frameHeight);
    const double corners[4][2] = {{0, 0}, {800, 0}, {800, 500}, {0, 500}};
    for (int k = 0; k < 4; ++k) {
        const ImagePoint seen = imagePointAt(main, 4000, 3000, corners[k][0], corners[k][1]);
        const ImagePoint outlined = imagePointAt(navigator, 4000, 3000, outline[k].x, outline[k].y);
        EXPECT_NEAR(outlined.x, seen.x, 1e-6) << k;
        EXPECT_NEAR(outlined.y, seen.y, 1e-6) << k;
    }
    const double clickX = box.left + 20, clickY = box.bottom + 30;
    const zelvan::Placement before = main;
    centreOn(main, navigator, 4000, 3000, clickX, clickY, frameWidth, frameHeight);
    const ImagePoint clicked = imagePointAt(navigator, 4000, 3000, clickX, clickY);
    const ImagePoint centred = imagePointAt(main, 4000, 3000, frameWidth / 2.0, frameHeight / 2.0);
    EXPECT_NEAR(centred.x, clicked.x, 1e-6);
    EXPECT_NEAR(centred.y, clicked.y, 1e-6);
    EXPECT_EQ(main.scaleX, before.scaleX);
    EXPECT_EQ(main.rotateZ, before.rotateZ);
}

TEST(SheetLayout, CellsShareTheSheetOutEvenlyAndEachPixelHasOne) {
    const SheetLayout sheet(7, 3, 100, 50);  // 3 rows, the last with one cell
    ASSERT_EQ(sheet.rows(), 3u);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) {
            const std::optional<std::size_t> index = sheet.cellAt(x + 0.5, y + 0.5);
            const bool lastRowsEnd = y >= 33 && x >= 33;
            ASSERT_EQ(index.has_value(), !lastRowsEnd) << x << ", " << y;
            if (!index) continue;
            const Cell cell = sheet.cell(*index);
            ASSERT_TRUE(x >= cell.left && x < cell.right && y >= cell.top && y < cell.bottom)
                << x << ", " << y;
            ASSERT_GE(cell.width(), 33);
            ASSERT_GE(cell.height(), 16);
        }
    // A 40 x 10 picture fitted into the 34 x 16 cell 5 (column 2, row 1: x 66..100, y 16..33), centred.
    const zelvan::Placement fitted = sheet.fitted(5, 40, 10);
    EXPECT_DOUBLE_EQ(fitted.scaleX, 34.0 / 40);
    EXPECT_DOUBLE_EQ(fitted.centreX, 83);
    EXPECT_DOUBLE_EQ(fitted.centreY, 50 - 24.5);
    EXPECT_FALSE(SheetLayout(0, 3, 100, 50).cellAt(1, 1));
}

// zelvan-view --grid: the pane a cursor zooms in, counted from the top-left.
TEST(BoardPlacement, TheCursorIsInThePaneUnderItOrTheNearest) {
    const PaneGrid grid{2, 2};  // 2 x 2 panes of 200 x 150 in a 404 x 304 frame, 4 pixels apart
    EXPECT_EQ(grid.paneAt(300, 10, 404, 304), 3u);
    EXPECT_EQ(grid.paneAt(10, 300, 404, 304), 0u);
    EXPECT_EQ(grid.paneAt(202, 200, 404, 304), 0u);  // in the gap: the pane left of it
    EXPECT_EQ(grid.paneAt(500, -5, 404, 304), 3u);   // past the frame: the nearest
}

// A press anywhere along the slider's track sets the opacity under it, from 0 at its left end to 255 at its
// right, and a press beside it is the picture's.
TEST(BoardPlacement, TheOpacitySliderGivesTheOpacityUnderThePress) {
    using S = OpacitySlider;
    const double middle = S::kBottom + S::kHeight / 2;
    EXPECT_EQ(S::valueAt(S::kLeft), 0);
    EXPECT_EQ(S::valueAt(S::kLeft + S::kWidth / 2), 128);
    EXPECT_EQ(S::valueAt(S::kLeft + S::kWidth), 255);
    EXPECT_EQ(S::valueAt(S::kLeft - 5), 0);
    EXPECT_EQ(S::valueAt(S::kLeft + S::kWidth + 5), 255);
    EXPECT_TRUE(S::contains(S::kLeft + 1, middle));
    EXPECT_TRUE(S::contains(S::kLeft + S::kWidth, S::kBottom - 4));
    EXPECT_FALSE(S::contains(S::kLeft + S::kWidth / 2, S::kBottom + S::kHeight + S::kReach + 1));
    EXPECT_FALSE(S::contains(S::kLeft + S::kWidth + S::kReach + 1, middle));
}

}  // namespace
