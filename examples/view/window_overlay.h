#pragma once
// What the viewer's window draws over its picture each frame and asks first about input: the channel
// settings of a picture of raw samples (channels/channel_overlay.h).
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
};

}  // namespace zelvan_demo
