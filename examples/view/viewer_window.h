#pragma once
// The viewer's window: GLFW input turned into view changes, and one picture drawn per frame. While
// the picture streams in, each frame uploads a few blocks of it between looks at the input, and
// the title shows how far it has come. A picture in panes (ShownPicture::panes) is placed in a pane's
// units: fitted to a pane, zoomed and turned about the pane's centre or the cursor within its pane.
#include <string>

#include "scene.h"
#include "shown_picture.h"
#include "window_overlay.h"

struct GLFWwindow;

namespace zelvan_demo {

class ViewerWindow {
public:
    // Opens the window with its OpenGL context current; throws DemoError if it cannot.
    ViewerWindow(int width, int height, const std::string& title);
    ~ViewerWindow();
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    // The picture to show, loading into this window's context (or already in it) and outliving
    // the window's use of it; fitted at once.
    void show(ShownPicture& picture);
    // Drawn over the picture and asked first about input from now on (null: none); it outlives the
    // window's use of it.
    void setOverlay(WindowOverlay* overlay) { overlay_ = overlay; }
    GLFWwindow* handle() const { return window_; }
    // The finer level's passes for the frame run() draws once the view has rested (kRestSeconds
    // without a change): 0 or the moving frames' 3, none.
    void setRestPasses(int passes) { restPasses_ = passes; }
    // Draws, uploads and handles input until the window closes; frames come as the input, the loading
    // or the overlay need them, and once more at rest with the rest passes.
    void run();
    // Uploads until `rows` rows of a streamed picture are in (all when 0), or draws until every tile
    // of a tiled one is in, then (`untilComplete`: draws until the picture is complete, a plane asked
    // for shown) draws `frames` frames and writes the last one to a PNG file at `path`.
    void screenshot(int frames, const std::string& path, std::uint32_t rows, bool untilComplete = false);
    // Pans, zooms and turns the picture for `frames` frames without waiting for anything, as a
    // user would, then prints to stdout the frames a second, the first and the slowest frame, the
    // frames before the picture showed and those with a hole at the centre after, the peak memory.
    void tour(int frames);

private:
    void drawFrame();
    // Whether the next frame differs from the last one drawn by more than its passes (the view, the
    // window's size, a mapping the overlay uploads); then the moving passes again, the rest timed anew.
    bool changedSinceDrawn();
    bool uploadSome();
    void showProgress();
    void fit();
    void onKey(int key, int action);
    void onButton(int button, int action);
    void onCursor(double x, double y);
    void onScroll(double offset);
    // The cursor in framebuffer pixels from the bottom-left, as the drawing counts them.
    void cursorInFramebuffer(double& x, double& y) const;
    // The cursor in the units of the pane under it (from its bottom-left), which the placement counts.
    void cursorInPane(double& x, double& y) const;
    // The first of the picture's panes (all are its size) in the current framebuffer.
    PaneGrid::Pane firstPane() const;

    GLFWwindow* window_ = nullptr;
    std::string title_;
    ShownPicture* picture_ = nullptr;
    WindowOverlay* overlay_ = nullptr;
    std::string shownStatus_ = "-";  // in the title
    zelvan::Placement view_;
    // What the last frame drew, and since when the view has not changed (glfwGetTime's seconds).
    zelvan::Placement drawnView_;
    int drawnWidth_ = 0, drawnHeight_ = 0;
    double stillSince_ = 0;
    int restPasses_ = 0;
    bool resting_ = false;  // the picture set to restPasses_
    bool dragging_ = false;
    bool overlayHeld_ = false;  // the overlay took the press: the drag is its
    double lastX_ = 0, lastY_ = 0;
};

}  // namespace zelvan_demo
