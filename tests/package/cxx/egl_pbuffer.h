#pragma once
// A surfaceless EGL pbuffer of side x side pixels with a desktop OpenGL context made current: what the
// C++ package consumers draw into. They link EGL and Zelvan but not libGL, so OpenGL calls of their own
// go through eglGetProcAddress.
#include <EGL/egl.h>
#include <EGL/eglext.h>

class Pbuffer {
public:
    explicit Pbuffer(EGLint side) {
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                           EGL_PBUFFER_BIT,
                                           EGL_RENDERABLE_TYPE,
                                           EGL_OPENGL_BIT,
                                           EGL_RED_SIZE,
                                           8,
                                           EGL_GREEN_SIZE,
                                           8,
                                           EGL_BLUE_SIZE,
                                           8,
                                           EGL_ALPHA_SIZE,
                                           8,
                                           EGL_NONE};
        const EGLint surfaceAttributes[] = {EGL_WIDTH, side, EGL_HEIGHT, side, EGL_NONE};
        display_ = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) {
            display_ = EGL_NO_DISPLAY;
            return;
        }
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglBindAPI(EGL_OPENGL_API) || !eglChooseConfig(display_, configAttributes, &config, 1, &count) ||
            count < 1)
            return;
        surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
        current_ = surface_ != EGL_NO_SURFACE && context_ != EGL_NO_CONTEXT &&
                   eglMakeCurrent(display_, surface_, surface_, context_);
    }
    ~Pbuffer() {
        if (display_ == EGL_NO_DISPLAY) return;
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
        if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
        eglTerminate(display_);
    }
    Pbuffer(const Pbuffer&) = delete;
    Pbuffer& operator=(const Pbuffer&) = delete;

    bool isCurrent() const { return current_; }

private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
    bool current_ = false;
};
