#pragma once
// The viewer's window: GLFW input turned into view changes, and one picture drawn per frame.
#include <string>

#include "scene.h"

struct GLFWwindow;

namespace zelvan_demo {

class ViewerWindow {
public:
    // Opens the window with its OpenGL context current; throws DemoError if it cannot.
    ViewerWindow(int width, int height, const std::string& title);
    ~ViewerWindow();
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    // The picture to show, uploaded in this window's context and outliving the window's use of
    // it; fitted at once.
    void show(zelvan::Pyramid& picture);
    // Draws and handles input until the window closes.
    void run();
    // Draws `frames` frames and writes the last one to a PNG file at `path`.
    void screenshot(int frames, const std::string& path);

private:
    void drawFrame();
    void fit();
    void onKey(int key, int action);
    void onButton(int button, int action);
    void onCursor(double x, double y);
    void onScroll(double offset);
    // The cursor in framebuffer pixels from the bottom-left, as the drawing counts them.
    void cursorInFramebuffer(double& x, double& y) const;

    GLFWwindow* window_ = nullptr;
    std::string title_;
    zelvan::Pyramid* picture_ = nullptr;
    zelvan::Placement view_;
    bool dragging_ = false;
    double lastX_ = 0, lastY_ = 0;
};

}  // namespace zelvan_demo
