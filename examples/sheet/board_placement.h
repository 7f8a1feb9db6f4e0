#pragma once
// Pictures on a board: each piece placed in the board's pixels (y down from its top-left corner), the
// board placed on screen as one picture (zelvan::Placement), and so each piece's own placement. And the
// navigator's corner: where it goes and the rectangle it shows. Plain arithmetic for the tests.
#include <array>
#include <cstdint>

#include "zelvan.hpp"
#include "zelvan_tiles_types.hpp"

namespace zelvan_demo {

// Where a piece lies on its board: its centre in board pixels and board pixels per picture pixel.
struct OnBoard {
    double centreX = 0, centreY = 0;
    double scale = 1;
    std::uint8_t alpha = 255;  // its own opacity, times the board's
};

// The placement that draws a piece where `on` puts it on a boardWidth x boardHeight board that `board`
// places: the board's turn about Z and its scale carried over (turns about X and Y are not).
zelvan::Placement placedOnBoard(const zelvan::Placement& board, double boardWidth, double boardHeight,
                                const OnBoard& on);

// A picture of pictureWidth x pictureHeight over another whose top-left corner is at (offsetX, offsetY) of
// the other's pixels, `scale` of them per pixel: its place on the other's board.
OnBoard overlaid(std::uint32_t pictureWidth, std::uint32_t pictureHeight, double offsetX, double offsetY,
                 double scale, std::uint8_t alpha);

// The navigator: a box in the frame's top-right corner, a fifth of its smaller side plus a quarter of the
// rest, fitting the picture's aspect; in frame units, y up, left/bottom/right/top.
struct Box {
    double left = 0, bottom = 0, right = 0, top = 0;
    bool contains(double x, double y) const { return x >= left && x < right && y >= bottom && y < top; }
};
Box navigatorBox(std::uint32_t pictureWidth, std::uint32_t pictureHeight, int frameWidth, int frameHeight);

// The frame's four corners (bottom-left, bottom-right, top-right, top-left) as picture pixels seen
// through `main` (the main view's placement), then through `navigator` back to frame units: the outline
// the navigator draws of what the main view shows.
std::array<zelvan::PlanePoint, 4> shownOutline(const zelvan::Placement& main,
                                               const zelvan::Placement& navigator, std::uint32_t pictureWidth,
                                               std::uint32_t pictureHeight, int frameWidth, int frameHeight);

// The main view moved so that the picture point under frame point (x, y) of the navigator comes to the
// frame's centre; its scale and turn kept.
void centreOn(zelvan::Placement& main, const zelvan::Placement& navigator, std::uint32_t pictureWidth,
              std::uint32_t pictureHeight, double x, double y, int frameWidth, int frameHeight);

}  // namespace zelvan_demo
