#include "board_placement.h"

#include <algorithm>
#include <cmath>

namespace zelvan_demo {

namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180;

// Picture pixel (x, y) (top-left origin, y down) of a width x height picture to frame units (y up).
zelvan::PlanePoint frameFromPicture(const zelvan::Placement& p, double width, double height, double x,
                                    double y) {
    const double across = (x - width / 2) * p.scaleX, up = (height / 2 - y) * p.scaleY;
    const double c = std::cos(p.rotateZ * kDegrees), s = std::sin(p.rotateZ * kDegrees);
    return {p.centreX + across * c - up * s, p.centreY + across * s + up * c};
}

// And back.
zelvan::PlanePoint pictureFromFrame(const zelvan::Placement& p, double width, double height, double x,
                                    double y) {
    const double c = std::cos(p.rotateZ * kDegrees), s = std::sin(p.rotateZ * kDegrees);
    const double dx = x - p.centreX, dy = y - p.centreY;
    const double across = dx * c + dy * s, up = -dx * s + dy * c;
    return {width / 2 + across / p.scaleX, height / 2 - up / p.scaleY};
}

}  // namespace

zelvan::Placement placedOnBoard(const zelvan::Placement& board, double boardWidth, double boardHeight,
                                const OnBoard& on) {
    zelvan::Placement piece = board;
    const zelvan::PlanePoint centre =
        frameFromPicture(board, boardWidth, boardHeight, on.centreX, on.centreY);
    piece.centreX = centre.x;
    piece.centreY = centre.y;
    piece.scaleX = board.scaleX * on.scale;
    piece.scaleY = board.scaleY * on.scale;
    piece.alpha = std::uint8_t((unsigned(board.alpha) * on.alpha + 127) / 255);
    return piece;
}

OnBoard overlaid(std::uint32_t pictureWidth, std::uint32_t pictureHeight, double offsetX, double offsetY,
                 double scale, std::uint8_t alpha) {
    return {offsetX + pictureWidth * scale / 2, offsetY + pictureHeight * scale / 2, scale, alpha};
}

Box navigatorBox(std::uint32_t pictureWidth, std::uint32_t pictureHeight, int frameWidth, int frameHeight) {
    const double side = std::min(frameWidth, frameHeight) / 5.0 + std::abs(frameWidth - frameHeight) / 4.0;
    const zelvan::Placement fitted = zelvan::fit(pictureWidth, pictureHeight, side, side);
    const double width = pictureWidth * fitted.scaleX, height = pictureHeight * fitted.scaleY;
    constexpr double kMargin = 8;
    return {frameWidth - kMargin - width, frameHeight - kMargin - height, frameWidth - kMargin,
            frameHeight - kMargin};
}

std::array<zelvan::PlanePoint, 4> shownOutline(const zelvan::Placement& main,
                                               const zelvan::Placement& navigator, std::uint32_t pictureWidth,
                                               std::uint32_t pictureHeight, int frameWidth, int frameHeight) {
    const double w = pictureWidth, h = pictureHeight;
    const double corners[4][2] = {
        {0, 0}, {double(frameWidth), 0}, {double(frameWidth), double(frameHeight)}, {0, double(frameHeight)}};
    std::array<zelvan::PlanePoint, 4> outline;
    for (int k = 0; k < 4; ++k) {
        const zelvan::PlanePoint seen = pictureFromFrame(main, w, h, corners[k][0], corners[k][1]);
        outline[std::size_t(k)] = frameFromPicture(navigator, w, h, seen.x, seen.y);
    }
    return outline;
}

void centreOn(zelvan::Placement& main, const zelvan::Placement& navigator, std::uint32_t pictureWidth,
              std::uint32_t pictureHeight, double x, double y, int frameWidth, int frameHeight) {
    const double w = pictureWidth, h = pictureHeight;
    const zelvan::PlanePoint wanted = pictureFromFrame(navigator, w, h, x, y);
    const zelvan::PlanePoint now = frameFromPicture(main, w, h, wanted.x, wanted.y);
    main.centreX += frameWidth / 2.0 - now.x;
    main.centreY += frameHeight / 2.0 - now.y;
}

}  // namespace zelvan_demo
