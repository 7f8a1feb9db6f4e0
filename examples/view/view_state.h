#pragma once
// The viewer's interactions as arithmetic on a zelvan::Placement (the image's centre, scale, turn
// about the Z axis and opacity in window pixels, origin at the bottom-left), apart from any window.
#include <cstdint>

#include "zelvan.hpp"

namespace zelvan_demo {

constexpr double kMinZoom = 1.0 / 4096, kMaxZoom = 256;

// Moves the image by (dx, dy) window pixels.
void pan(zelvan::Placement& view, double dx, double dy);

// Multiplies the scale by `factor` (kept within kMinZoom..kMaxZoom) so that the image point under
// window point (x, y) stays under it.
void zoomAbout(zelvan::Placement& view, double x, double y, double factor);

// Turns the image by `degrees` (counter-clockwise) about window point (x, y).
void turnAbout(zelvan::Placement& view, double x, double y, double degrees);

// Adds `delta` to the opacity, kept within 0..255.
void changeOpacity(zelvan::Placement& view, int delta);

// Where window point (x, y) falls in the image, in pixels from its top-left corner (it may lie
// outside the image).
struct ImagePoint {
    double x, y;
};
ImagePoint imagePointAt(const zelvan::Placement& view, std::uint32_t imageWidth, std::uint32_t imageHeight,
                        double x, double y);

}  // namespace zelvan_demo
