// GlContext on EGL: a pbuffer on Mesa's surfaceless platform, which needs neither a display server
// nor a GPU (llvmpipe draws then), or failing that on the first EGL device that opens (a GPU
// driver's own EGL).
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <string>

#include "gl_context.h"

namespace zelvan_support {

namespace {

template <typename Function>
Function eglFunction(const char* name) {
    return reinterpret_cast<Function>(eglGetProcAddress(name));
}

bool hasClientExtension(const char* name) {
    const char* list = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (list == nullptr) return false;
    const std::string extensions = std::string(" ") + list + " ";
    return extensions.find(std::string(" ") + name + " ") != std::string::npos;
}

EGLDisplay initialised(EGLDisplay display) {
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    return EGL_NO_DISPLAY;
}

EGLDisplay openDisplay() {
    auto getPlatformDisplay = eglFunction<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
    if (hasClientExtension("EGL_MESA_platform_surfaceless")) {
        const EGLDisplay display =
            initialised(getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
        if (display != EGL_NO_DISPLAY) return display;
    }
    auto queryDevices = eglFunction<PFNEGLQUERYDEVICESEXTPROC>("eglQueryDevicesEXT");
    if (queryDevices == nullptr) return EGL_NO_DISPLAY;
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (!queryDevices(8, devices, &count)) return EGL_NO_DISPLAY;
    for (EGLint i = 0; i < count; ++i) {
        const EGLDisplay display =
            initialised(getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr));
        if (display != EGL_NO_DISPLAY) return display;
    }
    return EGL_NO_DISPLAY;
}

std::string sizeText(EGLint width, EGLint height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

struct GlContext::Native {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;

    // Sets up the display, surface and context and makes the context current; returns what failed
    // in one line, or "" on success.
    std::string open(int width, int height);

    ~Native() {
        if (display == EGL_NO_DISPLAY) return;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
        if (surface != EGL_NO_SURFACE) eglDestroySurface(display, surface);
        // No eglTerminate: it unloads Mesa's driver, and the blocks the driver keeps after a draw
        // could then no longer be told apart from leaks (tests/lsan.supp). The display is the
        // process's own and goes with it.
    }
};

std::string GlContext::Native::open(int width, int height) {
    display = openDisplay();
    if (display == EGL_NO_DISPLAY)
        return "no headless OpenGL: neither Mesa's surfaceless EGL nor an EGL device is available";
    if (!eglBindAPI(EGL_OPENGL_API)) return "EGL offers no desktop OpenGL here";
    // clang-format off
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                       EGL_NONE};
    // clang-format on
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1)
        return "EGL has no 8-bit RGBA pbuffer for OpenGL";
    EGLint maxWidth = 0, maxHeight = 0;
    eglGetConfigAttrib(display, config, EGL_MAX_PBUFFER_WIDTH, &maxWidth);
    eglGetConfigAttrib(display, config, EGL_MAX_PBUFFER_HEIGHT, &maxHeight);
    if ((maxWidth > 0 && width > maxWidth) || (maxHeight > 0 && height > maxHeight))
        return "a " + sizeText(width, height) + " frame is larger than this OpenGL allows (" +
               sizeText(maxWidth, maxHeight) + ")";
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) return "cannot create a " + sizeText(width, height) + " pbuffer";
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) return "cannot create an OpenGL context";
    if (!eglMakeCurrent(display, surface, surface, context)) return "cannot make the OpenGL context current";
    return "";
}

GlContext::GlContext(int width, int height) : width_(width), height_(height) {
    auto native = std::make_unique<Native>();
    error_ = native->open(width, height);
    if (error_.empty()) native_ = std::move(native);
}

GlContext::~GlContext() = default;

bool GlContext::makeCurrent() {
    return native_ != nullptr &&
           eglMakeCurrent(native_->display, native_->surface, native_->surface, native_->context) == EGL_TRUE;
}

struct NoCurrentContext::Saved {
    EGLDisplay display = eglGetCurrentDisplay();
    EGLSurface draw = eglGetCurrentSurface(EGL_DRAW);
    EGLSurface read = eglGetCurrentSurface(EGL_READ);
    EGLContext context = eglGetCurrentContext();
};

NoCurrentContext::NoCurrentContext() : saved_(std::make_unique<Saved>()) {
    released_ = saved_->display == EGL_NO_DISPLAY ||
                eglMakeCurrent(saved_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT) == EGL_TRUE;
}

NoCurrentContext::~NoCurrentContext() {
    if (saved_->display != EGL_NO_DISPLAY)
        eglMakeCurrent(saved_->display, saved_->draw, saved_->read, saved_->context);
}

}  // namespace zelvan_support
