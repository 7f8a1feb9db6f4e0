#include "view_state.h"

#include <algorithm>
#include <cmath>

namespace zelvan_demo {

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
    const Vec3 offset = rotated({view.centreX - x, view.centreY - y, 0}, degrees, Axis::Z);
    view.centreX = x + offset.x;
    view.centreY = y + offset.y;
    // Kept within one turn, so that holding a key for long does not wear down the float's precision.
    view.rotateZ = std::remainder(view.rotateZ + degrees, 360.0);
}

void changeOpacity(Placement& view, int delta) {
    view.alpha = std::uint8_t(std::clamp(view.alpha + delta, 0, 255));
}

ImagePoint imagePointAt(const Placement& view, std::uint32_t imageWidth, std::uint32_t imageHeight, double x,
                        double y) {
    // Undo the turn about the centre, then the scale; image y runs down from the top edge.
    const Vec3 offset = rotated({x - view.centreX, y - view.centreY, 0}, -view.rotateZ, Axis::Z);
    return {imageWidth / 2.0 + offset.x / view.scaleX, imageHeight / 2.0 - offset.y / view.scaleY};
}

}  // namespace zelvan_demo
