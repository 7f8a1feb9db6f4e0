#pragma once
// An OpenGL context without a window: EGL with a pbuffer of the frame's size, on Mesa's
// surfaceless platform or, failing that, on the first EGL device (a GPU driver's own EGL).
#include <EGL/egl.h>

#include <string>

namespace zelvan_demo {

class HeadlessContext {
public:
    // Creates the context and makes it current; throws DemoError saying what is missing.
    HeadlessContext(int width, int height);
    ~HeadlessContext();
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

private:
    void create(int width, int height);
    void release();

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
};

}  // namespace zelvan_demo
