#pragma once
// A real OpenGL context for tests: EGL on Mesa's surfaceless platform with a pbuffer.
// On Windows: WGL on a shown window, read back from its back buffer (gl_context_wgl.cpp).
#ifdef _WIN32
#include <windows.h>
#else
#include <EGL/egl.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

namespace zelvan_test {

class GlContext {
public:
    // Creates and makes current a compatibility-profile context with a width x height RGBA pbuffer.
    // On failure isValid() is false and error() says why.
    GlContext(int width, int height);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

#ifdef _WIN32
    bool isValid() const { return context_ != nullptr; }
#else
    bool isValid() const { return context_ != EGL_NO_CONTEXT; }
#endif
    const std::string& error() const { return error_; }
    bool makeCurrent();
    int width() const { return width_; }
    int height() const { return height_; }

private:
#ifdef _WIN32
    HWND window_ = nullptr;
    HDC deviceContext_ = nullptr;
    HGLRC context_ = nullptr;
#else
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
#endif
    int width_, height_;
    std::string error_;
};

// RGBA bytes of pixel (x, y) of the current framebuffer, y from the bottom.
struct Rgba {
    std::uint8_t r, g, b, a;
};
Rgba readPixel(int x, int y);

// The RGBA texels of level 0 of the texture bound to GL_TEXTURE_2D, row 0 first.
std::vector<std::uint8_t> readBoundTexture(int* width = nullptr, int* height = nullptr);

// Resets the current context to a known drawing set-up: viewport and glOrtho(0, w, 0, h, -1, 1),
// identity model-view, clear colour, cleared framebuffer.
void setUpOrtho(int width, int height, float r = 0, float g = 0, float b = 0, float a = 1);

}  // namespace zelvan_test
