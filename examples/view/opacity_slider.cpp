#include "opacity_slider.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace zelvan_demo {

namespace {

void rectangle(double left, double bottom, double right, double top) {
    glBegin(GL_QUADS);
    glVertex2d(left, bottom);
    glVertex2d(right, bottom);
    glVertex2d(right, top);
    glVertex2d(left, top);
    glEnd();
}

}  // namespace

bool OpacitySlider::contains(double x, double y) {
    return x >= kLeft - kReach && x <= kLeft + kWidth + kReach && y >= kBottom - kReach &&
           y <= kBottom + kHeight + kReach;
}

std::uint8_t OpacitySlider::valueAt(double x) {
    const double fraction = std::clamp((x - kLeft) / kWidth, 0.0, 1.0);
    return static_cast<std::uint8_t>(std::lround(fraction * 255));
}

void OpacitySlider::draw(std::uint8_t alpha) {
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    const double lit = kLeft + kWidth * alpha / 255.0;
    glColor3ub(0x50, 0x56, 0x60);  // the track
    rectangle(kLeft, kBottom, kLeft + kWidth, kBottom + kHeight);
    glColor3ub(0xc8, 0xcc, 0xd2);  // lit up to the opacity
    rectangle(kLeft, kBottom, lit, kBottom + kHeight);
    glColor3ub(0xff, 0xff, 0xff);  // the knob, a little taller than the track
    rectangle(lit - 3, kBottom - 4, lit + 3, kBottom + kHeight + 4);
    glPopAttrib();
}

}  // namespace zelvan_demo
