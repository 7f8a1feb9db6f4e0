#pragma once
// The viewer's interactions as arithmetic on a zelvan::Placement (the image's centre, scale, turn
// about the Z axis and opacity in window pixels, origin at the bottom-left), apart from any window.
#include <cstdint>
#include <string>

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

// A scale bar: the longest round length (1, 2 or 5 x 10^k micrometres) whose bar fits `longestPixels`
// on screen at `micronsPerPixel` micrometres a screen pixel, its length in screen pixels, and its label
// in micrometres below a millimetre, else in millimetres ("500 µm", "2 mm", "0.5 µm"). None (pixels 0,
// label empty) for a pixel size that is not known (0), not finite, or a bar shorter than a pixel.
struct ScaleBar {
    double microns = 0, pixels = 0;
    std::string label;
};
ScaleBar scaleBarFor(double micronsPerPixel, double longestPixels);

}  // namespace zelvan_demo
