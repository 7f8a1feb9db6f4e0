#include "view_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zelvan_demo {

namespace {

struct Offset {
    double x, y;
};

// (x, y) turned counter-clockwise by `degrees`.
Offset turned(double x, double y, double degrees) {
    const double radians = degrees * (3.14159265358979323846 / 180.0);
    const double c = std::cos(radians), s = std::sin(radians);
    return {c * x - s * y, s * x + c * y};
}

}  // namespace

void pan(zelvan::Placement& view, double dx, double dy) {
    view.centreX += dx;
    view.centreY += dy;
}

void zoomAbout(zelvan::Placement& view, double x, double y, double factor) {
    const double scale = std::clamp(view.scaleX * factor, kMinZoom, kMaxZoom);
    const double applied = scale / view.scaleX;
    // The centre moves away from (x, y) by the same factor as everything else.
    view.centreX = x + (view.centreX - x) * applied;
    view.centreY = y + (view.centreY - y) * applied;
    view.scaleX = view.scaleY = scale;
}

void turnAbout(zelvan::Placement& view, double x, double y, double degrees) {
    const Offset offset = turned(view.centreX - x, view.centreY - y, degrees);
    view.centreX = x + offset.x;
    view.centreY = y + offset.y;
    // Kept within one turn, so that holding a key for long does not wear down the float's precision.
    view.rotateZ = std::remainder(view.rotateZ + degrees, 360.0);
}

void changeOpacity(zelvan::Placement& view, int delta) {
    view.alpha = std::uint8_t(std::clamp(view.alpha + delta, 0, 255));
}

ImagePoint imagePointAt(const zelvan::Placement& view, std::uint32_t imageWidth, std::uint32_t imageHeight,
                        double x, double y) {
    // Undo the turn about the centre, then the scale; image y runs down from the top edge.
    const Offset offset = turned(x - view.centreX, y - view.centreY, -view.rotateZ);
    return {imageWidth / 2.0 + offset.x / view.scaleX, imageHeight / 2.0 - offset.y / view.scaleY};
}

ScaleBar scaleBarFor(double micronsPerPixel, double longestPixels) {
    ScaleBar bar;
    const double longest = micronsPerPixel * longestPixels;
    if (!(micronsPerPixel > 0) || !std::isfinite(longest) || longestPixels < 1) return bar;
    const double decade = std::pow(10.0, std::floor(std::log10(longest)));
    for (const double step : {5.0, 2.0, 1.0})
        if (step * decade <= longest) {
            bar.microns = step * decade;
            break;
        }
    if (bar.microns == 0) return bar;
    bar.pixels = bar.microns / micronsPerPixel;
    char text[32];
    if (bar.microns >= 1000)
        std::snprintf(text, sizeof text, "%g mm", bar.microns / 1000);
    else
        std::snprintf(text, sizeof text, "%g \u00b5m", bar.microns);
    bar.label = text;
    return bar;
}

}  // namespace zelvan_demo
