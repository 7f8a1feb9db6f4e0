#pragma once
// The overlay's opacity as a slider in the frame's bottom-left corner: a track lit from its left end up to
// the opacity, and a knob there. A press on it, or a drag begun there, sets the opacity under the cursor.
#include <cstdint>

namespace zelvan_demo {

struct OpacitySlider {
    // The track, in frame pixels from the frame's bottom-left corner.
    static constexpr double kLeft = 16, kBottom = 16, kWidth = 200, kHeight = 8;
    // How far above or below the track a press still takes it (the knob's reach).
    static constexpr double kReach = 8;

    // Whether a press at frame point (x, y) (from the bottom-left) falls on the slider.
    static bool contains(double x, double y);
    // The opacity, 0 to 255, at frame x: 0 at the track's left end, 255 at its right, clamped beyond.
    static std::uint8_t valueAt(double x);
    // Draws the slider showing `alpha` into the frame's projection (one unit a pixel, y up), its state as
    // it was after. OpenGL: context current.
    static void draw(std::uint8_t alpha);
};

}  // namespace zelvan_demo
