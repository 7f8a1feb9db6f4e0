#pragma once
// The viewer's window: GLFW input turned into view changes, and one picture drawn per frame. While
// the picture streams in, each frame uploads a few blocks of it between looks at the input, and
// the title shows how far it has come.
#include <string>

#include "scene.h"
#include "streamed_picture.h"

struct GLFWwindow;

namespace zelvan_demo {

class ViewerWindow {
public:
    // Opens the window with its OpenGL context current; throws DemoError if it cannot.
    ViewerWindow(int width, int height, const std::string& title);
    ~ViewerWindow();
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    // The picture to show, streaming into this window's context (or already in it) and outliving
    // the window's use of it; fitted at once.
    void show(StreamedPicture& picture);
    // Draws, uploads and handles input until the window closes.
    void run();
    // Uploads until `rows` rows of the picture are in (all when 0), then draws `frames` frames and
    // writes the last one to a PNG file at `path`.
    void screenshot(int frames, const std::string& path, std::uint32_t rows);

private:
    void drawFrame();
    bool uploadSome();
    void showProgress();
    void fit();
    void onKey(int key, int action);
    void onButton(int button, int action);
    void onCursor(double x, double y);
    void onScroll(double offset);
    // The cursor in framebuffer pixels from the bottom-left, as the drawing counts them.
    void cursorInFramebuffer(double& x, double& y) const;

    GLFWwindow* window_ = nullptr;
    std::string title_;
    StreamedPicture* picture_ = nullptr;
    int shownPercent_ = -1;  // in the title; -1 before loading shows
    zelvan::Placement view_;
    bool dragging_ = false;
    double lastX_ = 0, lastY_ = 0;
};

}  // namespace zelvan_demo
