#include "viewer_window.h"

#include <GLFW/glfw3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "image_writing.h"
#include "program.h"
#include "scale_bar.h"
#include "scene.h"
#include "view_state.h"
#include "zelvan_sources.hpp"
#include "zelvan_tiles.hpp"

namespace zelvan_demo {

namespace {

constexpr Rgb kBackground{0x1c, 0x20, 0x26};
constexpr double kWheelStep = 1.15, kKeyZoomStep = 1.25, kTurnStep = 15;
constexpr int kOpacityStep = 16;
// The uploading a frame does while the picture streams in: about a frame and a half at 60 Hz, so
// that pan and zoom keep answering.
constexpr double kUploadSeconds = 0.025;
// How long the view stays unchanged before the frame is drawn again with the rest passes: past the
// pauses within a drag or a turn of the wheel, soon enough to come as the hand stops.
constexpr double kRestSeconds = 0.25;
// The passes of moving frames: the pictures' own.
const int kMovingPasses = zelvan::TileViewOptions{}.passes;
// How long a screenshot waits for the tiles of its frame.
constexpr std::chrono::seconds kTileWait{120};

ViewerWindow& owner(GLFWwindow* window) {
    return *static_cast<ViewerWindow*>(glfwGetWindowUserPointer(window));
}

}  // namespace

ViewerWindow::ViewerWindow(int width, int height, const std::string& title) : title_(title) {
    window_ = glfwCreateWindow(width, height, title.c_str(), nullptr, nullptr);
    if (window_ == nullptr) throw DemoError("cannot open a window with OpenGL");
    glfwMakeContextCurrent(window_);
    glfwSetWindowUserPointer(window_, this);
    // Captureless lambdas convert to GLFW's plain function pointers.
    glfwSetKeyCallback(window_,
                       [](GLFWwindow* w, int key, int, int action, int) { owner(w).onKey(key, action); });
    glfwSetMouseButtonCallback(
        window_, [](GLFWwindow* w, int button, int action, int) { owner(w).onButton(button, action); });
    glfwSetCursorPosCallback(window_, [](GLFWwindow* w, double x, double y) { owner(w).onCursor(x, y); });
    glfwSetScrollCallback(window_, [](GLFWwindow* w, double, double offset) { owner(w).onScroll(offset); });
}

ViewerWindow::~ViewerWindow() { glfwDestroyWindow(window_); }

void ViewerWindow::show(ShownPicture& picture) {
    picture_ = &picture;
    fit();
}

PaneGrid::Pane ViewerWindow::firstPane() const {
    int width = 0, height = 0;
    glfwGetFramebufferSize(window_, &width, &height);
    return picture_->panes().pane(0, width, height);
}

void ViewerWindow::fit() {
    const PaneGrid::Pane pane = firstPane();
    const std::uint8_t alpha = view_.alpha;
    view_ = zelvan::fit(picture_->width(), picture_->height(), pane.width, pane.height);
    view_.alpha = alpha;
}

void ViewerWindow::drawFrame() {
    int width = 0, height = 0;
    glfwGetFramebufferSize(window_, &width, &height);
    beginFrame(width, height, depthReach(view_, picture_->width(), picture_->height()), kBackground);
    picture_->place(view_);
    picture_->draw(width, height);
    drawnView_ = view_, drawnWidth_ = width, drawnHeight_ = height;
    // Where the picture's pixel size is known: a bar of a round length up to a quarter of a pane.
    if (const zelvan::sources::PictureInfo* info = picture_->info())
        drawScaleBar(scaleBarFor(info->pixelWidthMicrons / std::fabs(view_.scaleX), firstPane().width / 4.0),
                     width, height);
    if (overlay_ != nullptr) overlay_->draw(width, height);
}

// Uploads strips of bands for about kUploadSeconds; false when none was decoded yet.
bool ViewerWindow::uploadSome() {
    const double start = glfwGetTime();
    bool any = false;
    while (glfwGetTime() - start < kUploadSeconds && picture_->loadSome(false)) any = true;
    showProgress();
    return any;
}

void ViewerWindow::showProgress() {
    const std::string status = picture_->status();
    if (status == shownStatus_) return;
    shownStatus_ = status;
    const std::string title = status.empty() ? title_ : title_ + " (" + status + ")";
    glfwSetWindowTitle(window_, title.c_str());
}

bool ViewerWindow::changedSinceDrawn() {
    int width = 0, height = 0;
    glfwGetFramebufferSize(window_, &width, &height);
    const zelvan::Placement& a = view_;
    const zelvan::Placement& b = drawnView_;
    const bool changed = a.centreX != b.centreX || a.centreY != b.centreY || a.centreZ != b.centreZ ||
                         a.rotateX != b.rotateX || a.rotateY != b.rotateY || a.rotateZ != b.rotateZ ||
                         a.scaleX != b.scaleX || a.scaleY != b.scaleY || a.alpha != b.alpha ||
                         width != drawnWidth_ || height != drawnHeight_ ||
                         (overlay_ != nullptr && overlay_->busy());
    if (!changed) return false;
    stillSince_ = glfwGetTime();
    if (resting_) picture_->setPasses(kMovingPasses);
    resting_ = false;
    return true;
}

void ViewerWindow::run() {
    glfwSwapInterval(1);
    const bool rests = restPasses_ > 0 && restPasses_ != kMovingPasses;
    stillSince_ = glfwGetTime();
    while (!glfwWindowShouldClose(window_)) {
        const bool uploaded = !picture_->complete() && uploadSome();
        changedSinceDrawn();
        drawFrame();
        glfwSwapBuffers(window_);
        showProgress();
        if (!picture_->complete() || (overlay_ != nullptr && overlay_->busy())) {
            glfwWaitEventsTimeout(uploaded ? 0 : 0.005);  // a moment for the decoder when it is behind
            continue;
        }
        if (!rests || resting_) {
            glfwWaitEvents();  // nothing moves unless the user does something
            continue;
        }
        // Once the view has rested, the same tiles drawn again with more passes, once: the frame before
        // stays on screen until then, and the next movement draws the moving passes straight away.
        const double left = stillSince_ + kRestSeconds - glfwGetTime();
        if (left > 0) glfwWaitEventsTimeout(left);
        if (!changedSinceDrawn() && glfwGetTime() >= stillSince_ + kRestSeconds) {
            picture_->setPasses(restPasses_);
            resting_ = true;
        }
    }
}

void ViewerWindow::screenshot(int frames, const std::string& path, std::uint32_t rows, bool untilComplete) {
    OutputFile output(path);
    glfwSwapInterval(0);
    picture_->finishLoading({}, rows);
    int width = 0, height = 0;
    glfwGetFramebufferSize(window_, &width, &height);
    beginFrame(width, height, depthReach(view_, picture_->width(), picture_->height()), kBackground);
    picture_->place(view_);
    if (!picture_->waitForStillFrame(width, height, kTileWait))
        throw DemoError(picture_->failure().empty() ? "the tiles were not all read in time"
                                                    : picture_->failure());
    // A plane asked for since shows once its coarsest level is in: frames until then, and until its tiles
    // are.
    for (const double start = glfwGetTime(); untilComplete && !picture_->complete();) {
        if (glfwGetTime() - start > double(kTileWait.count()))
            throw DemoError("the plane was not shown in time");
        drawFrame();
        glfwSwapBuffers(window_);
        glfwWaitEventsTimeout(0.005);
    }
    for (int frame = 1; frame <= frames; ++frame) {
        glfwPollEvents();
        drawFrame();
        if (frame == frames) {
            glFinish();
            glfwGetFramebufferSize(window_, &width, &height);
            writePng(output.stream(), readFrame(width, height), path);  // the back buffer, before the swap
        }
        glfwSwapBuffers(window_);
    }
    output.commit();
}

void ViewerWindow::tour(int frames) {
    glfwSwapInterval(0);
    const PaneGrid::Pane pane = firstPane();
    const double cx = pane.width / 2.0, cy = pane.height / 2.0;
    // In to one picture pixel per screen pixel by the middle, out again by the end, panning back and
    // forth and turning all the while.
    const double zoom = std::pow(1 / view_.scaleX, 2.0 / frames);
    // Frames before the picture first shows (its one-tile level not read yet), frames that showed
    // the background at the centre after that (a hole), the slowest frame after the first.
    int waiting = -1, holes = 0;
    double first = 0, slowest = 0;
    const double start = glfwGetTime();
    for (int frame = 0; frame < frames; ++frame) {
        const double begun = glfwGetTime();
        glfwPollEvents();
        uploadSome();
        zoomAbout(view_, cx, cy, frame < frames / 2 ? zoom : 1 / zoom);
        const double direction = (frame / 60) % 2 == 0 ? 1 : -1;
        pan(view_, 6 * direction, 3 * direction);
        turnAbout(view_, cx, cy, 0.5);
        drawFrame();
        unsigned char centre[4] = {};
        glReadPixels(pane.left + int(cx), pane.bottom + int(cy), 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, centre);
        const bool background =
            centre[0] == kBackground.r && centre[1] == kBackground.g && centre[2] == kBackground.b;
        if (!background && waiting < 0) waiting = frame;
        if (background && waiting >= 0) ++holes;
        glfwSwapBuffers(window_);
        (frame == 0 ? first : slowest) = std::max(frame == 0 ? first : slowest, glfwGetTime() - begun);
    }
    const double seconds = glfwGetTime() - start;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "frames %d seconds %.2f fps %.1f first_ms %.1f slowest_ms %.1f frames_before_picture %d holes %d "
        "peak_rss_mib %.0f\n",
        frames, seconds, frames / seconds, first * 1000, slowest * 1000, waiting, holes,
        double(usage.ru_maxrss) / 1024);
}

void ViewerWindow::onKey(int key, int action) {
    if (action == GLFW_RELEASE) return;
    if (overlay_ != nullptr && overlay_->onKey(key)) return;
    // The centre of a pane: of every pane, which all show the same placement.
    const PaneGrid::Pane pane = firstPane();
    const double cx = pane.width / 2.0, cy = pane.height / 2.0;
    switch (key) {
        case GLFW_KEY_ESCAPE:
        case GLFW_KEY_Q:
            glfwSetWindowShouldClose(window_, GLFW_TRUE);
            break;
        case GLFW_KEY_F:
        case GLFW_KEY_SPACE:
            fit();
            break;
        case GLFW_KEY_0:
        case GLFW_KEY_1:  // unless a picture's channels take it
            zoomAbout(view_, cx, cy, 1.0 / view_.scaleX);
            break;
        case GLFW_KEY_EQUAL:
        case GLFW_KEY_KP_ADD:
            zoomAbout(view_, cx, cy, kKeyZoomStep);
            break;
        case GLFW_KEY_MINUS:
        case GLFW_KEY_KP_SUBTRACT:
            zoomAbout(view_, cx, cy, 1 / kKeyZoomStep);
            break;
        case GLFW_KEY_LEFT:
            turnAbout(view_, cx, cy, kTurnStep);
            break;
        case GLFW_KEY_RIGHT:
            turnAbout(view_, cx, cy, -kTurnStep);
            break;
        case GLFW_KEY_UP:
            changeOpacity(view_, kOpacityStep);
            break;
        case GLFW_KEY_DOWN:
            changeOpacity(view_, -kOpacityStep);
            break;
        default:
            break;
    }
}

void ViewerWindow::onButton(int button, int action) {
    if (button != GLFW_MOUSE_BUTTON_LEFT) return;
    if (action == GLFW_PRESS && overlay_ != nullptr && overlay_->wantsMouse()) return;
    cursorInFramebuffer(lastX_, lastY_);
    overlayHeld_ = action == GLFW_PRESS && overlay_ != nullptr && overlay_->onPress(lastX_, lastY_, view_);
    dragging_ = action == GLFW_PRESS && !overlayHeld_;
}

void ViewerWindow::onCursor(double, double) {
    double x = 0, y = 0;
    if (overlayHeld_) {
        cursorInFramebuffer(x, y);
        overlay_->onDrag(x, y, view_);
        return;
    }
    if (!dragging_) return;
    cursorInFramebuffer(x, y);
    pan(view_, x - lastX_, y - lastY_);
    lastX_ = x;
    lastY_ = y;
}

void ViewerWindow::onScroll(double offset) {
    if (overlay_ != nullptr && overlay_->wantsMouse()) return;
    double x = 0, y = 0;
    cursorInPane(x, y);
    zoomAbout(view_, x, y, std::pow(kWheelStep, offset));
}

void ViewerWindow::cursorInFramebuffer(double& x, double& y) const {
    int windowWidth = 1, windowHeight = 1, width = 0, height = 0;
    glfwGetWindowSize(window_, &windowWidth, &windowHeight);
    glfwGetFramebufferSize(window_, &width, &height);
    double cursorX = 0, cursorY = 0;
    glfwGetCursorPos(window_, &cursorX, &cursorY);
    // Window coordinates run down from the top and may be fewer than pixels on high-density screens.
    x = cursorX * width / (windowWidth > 0 ? windowWidth : 1);
    y = height - cursorY * height / (windowHeight > 0 ? windowHeight : 1);
}

void ViewerWindow::cursorInPane(double& x, double& y) const {
    cursorInFramebuffer(x, y);
    int width = 0, height = 0;
    glfwGetFramebufferSize(window_, &width, &height);
    const PaneGrid grid = picture_->panes();
    const PaneGrid::Pane pane = grid.pane(grid.paneAt(x, y, width, height), width, height);
    x -= pane.left;
    y -= pane.bottom;
}

}  // namespace zelvan_demo
