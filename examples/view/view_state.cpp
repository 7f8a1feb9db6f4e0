#include "view_state.h"

#include <algorithm>
#include <cmath>

namespace zelvan_demo {

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

}  // namespace

void pan(Placement& view, double dx, double dy) {
    view.centreX += dx;
    view.centreY += dy;
}

void zoomAbout(Placement& view, double x, double y, double factor) {
    const double scale = std::clamp(view.scaleX * factor, kMinZoom, kMaxZoom);
    const double applied = scale / view.scaleX;
    // The centre moves away from (x, y) by the same factor as everything else.
    view.centreX = x + (view.centreX - x) * applied;
    view.centreY = y + (view.centreY - y) * applied;
    view.scaleX = view.scaleY = scale;
}

void turnAbout(Placement& view, double x, double y, double degrees) {
    const double c = std::cos(degrees * kRadiansPerDegree), s = std::sin(degrees * kRadiansPerDegree);
    const double dx = view.centreX - x, dy = view.centreY - y;
    view.centreX = x + c * dx - s * dy;
    view.centreY = y + s * dx + c * dy;
    // Kept within one turn, so that holding a key for long does not wear down the float's precision.
    view.rotateZ = std::remainder(view.rotateZ + degrees, 360.0);
}

void changeOpacity(Placement& view, int delta) {
    view.alpha = std::uint8_t(std::clamp(view.alpha + delta, 0, 255));
}

ImagePoint imagePointAt(const Placement& view, std::uint32_t imageWidth, std::uint32_t imageHeight, double x,
                        double y) {
    // Undo the turn about the centre, then the scale; image y runs down from the top edge.
    const double c = std::cos(view.rotateZ * kRadiansPerDegree),
                 s = std::sin(view.rotateZ * kRadiansPerDegree);
    const double dx = x - view.centreX, dy = y - view.centreY;
    const double ux = (c * dx + s * dy) / view.scaleX, uy = (-s * dx + c * dy) / view.scaleY;
    return {imageWidth / 2.0 + ux, imageHeight / 2.0 - uy};
}

}  // namespace zelvan_demo
