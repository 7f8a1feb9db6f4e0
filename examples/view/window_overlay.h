#pragma once
// What the viewer's window draws over its picture each frame and asks first about input: the channel
// settings of a picture of raw samples (channels/channel_overlay.h), the keys and the navigator of several
// pictures shown together (board_controls.h).
#include "zelvan.hpp"

namespace zelvan_demo {

class WindowOverlay {
public:
    virtual ~WindowOverlay() = default;
    // After the picture, into the frame of `width` x `height` pixels.
    virtual void draw(int width, int height) = 0;
    // A key pressed (GLFW's key code): true when the overlay took it.
    virtual bool onKey(int key) = 0;
    // Whether the mouse is over the overlay's own controls, which then get it instead of the picture.
    virtual bool wantsMouse() const = 0;
    // Whether the picture still changes (a new mapping uploading), so that frames keep coming.
    virtual bool busy() const { return false; }
    // A press of the left button at framebuffer point (x, y) from the bottom-left: true when the overlay
    // took it, having moved `view` (the picture's placement) as it would.
    virtual bool onPress(double x, double y, zelvan::Placement& view) {
        (void)x, (void)y, (void)view;
        return false;
    }
    // The cursor at framebuffer point (x, y) while the button a press the overlay took is still held.
    virtual void onDrag(double x, double y, zelvan::Placement& view) { (void)x, (void)y, (void)view; }
};

}  // namespace zelvan_demo
