#include "gl_context.h"

#include <EGL/eglext.h>
#include <GL/gl.h>

namespace zelvan_test {

GlContext::GlContext(int width, int height) : width_(width), height_(height) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) {
        error_ = "eglGetPlatformDisplayEXT is not available";
        return;
    }
    display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) {
        error_ = "cannot open Mesa's surfaceless EGL display";
        display_ = EGL_NO_DISPLAY;
        return;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error_ = "EGL cannot bind the desktop OpenGL API";
        return;
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_RED_SIZE,     8,               EGL_GREEN_SIZE,      8,
                                       EGL_BLUE_SIZE,    8,               EGL_ALPHA_SIZE,      8,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display_, configAttributes, &config, 1, &count) || count < 1) {
        error_ = "no RGBA8 pbuffer configuration for OpenGL";
        return;
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
    if (surface_ == EGL_NO_SURFACE) {
        error_ = "cannot create a pbuffer";
        return;
    }
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
    if (context_ == EGL_NO_CONTEXT) {
        error_ = "cannot create an OpenGL context";
        return;
    }
    if (!makeCurrent()) {
        eglDestroyContext(display_, context_);
        context_ = EGL_NO_CONTEXT;
        error_ = "cannot make the OpenGL context current";
    }
}

GlContext::~GlContext() {
    if (display_ == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
    // The display stays initialised: eglTerminate unloads Mesa's driver, and the blocks the driver
    // keeps after a draw could then no longer be told apart from leaks (tests/lsan.supp).
}

bool GlContext::makeCurrent() { return eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE; }

}  // namespace zelvan_test
