#pragma once
// A real OpenGL context without a window, for the tests, the benchmarks, the fuzzer and the demo
// programs: a compatibility-profile context drawing into an off-screen RGBA surface of a given size.
// The window system's side lives in a backend file (gl_context_egl.cpp: EGL on Mesa's surfaceless
// platform, or else on the first EGL device), so that no window-system type shows here.
#include <memory>
#include <string>

// Not used here: kept so that tests which take readPixel and friends from this header still build.
#include "gl_pixels.h"

namespace zelvan_support {

class GlContext {
public:
    // Creates the context with a width x height surface and makes it current.
    // On failure isValid() is false and error() says, in one line, what is missing.
    GlContext(int width, int height);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    bool isValid() const { return native_ != nullptr; }
    const std::string& error() const { return error_; }
    bool makeCurrent();
    int width() const { return width_; }
    int height() const { return height_; }

private:
    struct Native;  // the window system's display, surface and context, defined by the backend
    std::unique_ptr<Native> native_;
    int width_, height_;
    std::string error_;
};

// While it lives, no OpenGL context is current on this thread, as in a program that has none; the
// context that was current comes back when it goes.
class NoCurrentContext {
public:
    NoCurrentContext();
    ~NoCurrentContext();
    NoCurrentContext(const NoCurrentContext&) = delete;
    NoCurrentContext& operator=(const NoCurrentContext&) = delete;
    bool released() const { return released_; }

private:
    struct Saved;  // the window system's handles of the context that was current
    std::unique_ptr<Saved> saved_;
    bool released_ = false;
};

}  // namespace zelvan_support
