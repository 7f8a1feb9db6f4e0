#include "headless_context.h"

#include <EGL/eglext.h>

#include <string>

#include "demo_error.h"

namespace zelvan_demo {

namespace {

template <typename Function>
Function eglFunction(const char* name) {
    return reinterpret_cast<Function>(eglGetProcAddress(name));
}

bool hasExtension(EGLDisplay display, const char* name) {
    const char* list = eglQueryString(display, EGL_EXTENSIONS);
    if (list == nullptr) return false;
    const std::string extensions = std::string(" ") + list + " ";
    return extensions.find(std::string(" ") + name + " ") != std::string::npos;
}

EGLDisplay initialised(EGLDisplay display) {
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    return EGL_NO_DISPLAY;
}

// Mesa's surfaceless platform needs neither a display server nor a GPU (llvmpipe draws then).
EGLDisplay openDisplay() {
    auto getPlatformDisplay = eglFunction<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
    if (hasExtension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
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

}  // namespace

HeadlessContext::HeadlessContext(int width, int height) {
    try {
        create(width, height);
    } catch (...) {
        release();
        throw;
    }
}

HeadlessContext::~HeadlessContext() { release(); }

void HeadlessContext::create(int width, int height) {
    display_ = openDisplay();
    if (display_ == EGL_NO_DISPLAY)
        throw DemoError("no headless OpenGL: neither Mesa's surfaceless EGL nor an EGL device is available");
    if (!eglBindAPI(EGL_OPENGL_API)) throw DemoError("EGL offers no desktop OpenGL here");
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
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display_, configAttributes, &config, 1, &count) || count < 1)
        throw DemoError("EGL has no 8-bit RGB pbuffer for OpenGL");
    EGLint maxWidth = 0, maxHeight = 0;
    eglGetConfigAttrib(display_, config, EGL_MAX_PBUFFER_WIDTH, &maxWidth);
    eglGetConfigAttrib(display_, config, EGL_MAX_PBUFFER_HEIGHT, &maxHeight);
    if ((maxWidth > 0 && width > maxWidth) || (maxHeight > 0 && height > maxHeight))
        throw DemoError("--size: a " + std::to_string(width) + "x" + std::to_string(height) +
                        " frame is larger than this OpenGL allows (" + std::to_string(maxWidth) + "x" +
                        std::to_string(maxHeight) + ")");
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
    if (surface_ == EGL_NO_SURFACE)
        throw DemoError("cannot create a " + std::to_string(width) + "x" + std::to_string(height) +
                        " pbuffer");
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
    if (context_ == EGL_NO_CONTEXT) throw DemoError("cannot create an OpenGL context");
    if (!eglMakeCurrent(display_, surface_, surface_, context_))
        throw DemoError("cannot make the OpenGL context current");
}

void HeadlessContext::release() {
    if (display_ == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
    // No eglTerminate: it unloads Mesa's driver, whose few blocks still held then can no longer be
    // traced by leak checkers. The display is the process's own and goes with it.
    display_ = EGL_NO_DISPLAY;
    context_ = EGL_NO_CONTEXT;
    surface_ = EGL_NO_SURFACE;
}

}  // namespace zelvan_demo
