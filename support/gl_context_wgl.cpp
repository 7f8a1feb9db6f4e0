// The test context on Windows: WGL on a shown, frameless window whose client area is the requested
// size. The pixel format is double-buffered and tests read back the back buffer (the default read
// buffer then), which no other window can cover and nothing but the test draws into.
#include <windows.h>
// <windows.h> first: the Windows SDK's <GL/gl.h> needs its declarations.
#include <GL/gl.h>

#include <memory>
#include <string>

#include "gl_context.h"

namespace zelvan_support {

namespace {

constexpr wchar_t kWindowClass[] = L"ZelvanTestWindow";

bool registerWindowClass() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.style = CS_OWNDC;  // one device context for the window's whole life
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassW(&windowClass) != 0;
    }();
    return registered;
}

// The first double-buffered RGBA window format with 8 bits in each of red, green, blue and alpha:
// tests compare whole RGBA pixels, destination alpha included. (ChoosePixelFormat may trade alpha
// away for a closer colour depth.) Returns 0 when there is none.
int rgba8Format(HDC deviceContext) {
    constexpr DWORD kNeeded = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    PIXELFORMATDESCRIPTOR format{};
    const int count = DescribePixelFormat(deviceContext, 1, sizeof format, &format);
    for (int index = 1; index <= count; ++index) {
        DescribePixelFormat(deviceContext, index, sizeof format, &format);
        if ((format.dwFlags & kNeeded) == kNeeded && format.iPixelType == PFD_TYPE_RGBA &&
            format.cRedBits == 8 && format.cGreenBits == 8 && format.cBlueBits == 8 && format.cAlphaBits == 8)
            return index;
    }
    return 0;
}

// Handles the messages that showing the window queued, so it is mapped before the first draw.
void handlePendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

}  // namespace

// The window, its device context and the OpenGL context, released in reverse order.
struct GlContext::Native {
    HWND window = nullptr;
    HDC deviceContext = nullptr;
    HGLRC context = nullptr;

    ~Native() {
        if (context != nullptr) {
            if (wglGetCurrentContext() == context) wglMakeCurrent(nullptr, nullptr);
            wglDeleteContext(context);
        }
        if (deviceContext != nullptr) ReleaseDC(window, deviceContext);
        if (window != nullptr) DestroyWindow(window);
    }

    // Opens everything and makes the context current; returns why not, or "" on success.
    std::string open(int width, int height) {
        if (!registerWindowClass()) return "cannot register the window class";
        // A pop-up window has no frame or caption, so the client area is exactly width x height.
        window = CreateWindowExW(0, kWindowClass, L"Zelvan test", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window == nullptr) return "cannot create a window";
        handlePendingMessages();
        deviceContext = GetDC(window);
        const int format = rgba8Format(deviceContext);
        PIXELFORMATDESCRIPTOR chosen{};
        if (format == 0 || DescribePixelFormat(deviceContext, format, sizeof chosen, &chosen) == 0 ||
            !SetPixelFormat(deviceContext, format, &chosen))
            return "no double-buffered RGBA8 pixel format for OpenGL windows";
        context = wglCreateContext(deviceContext);
        if (context == nullptr) return "cannot create an OpenGL context";
        if (wglMakeCurrent(deviceContext, context) == FALSE) return "cannot make the OpenGL context current";
        return {};
    }
};

GlContext::GlContext(int width, int height) : width_(width), height_(height) {
    auto native = std::make_unique<Native>();
    error_ = native->open(width, height);
    if (error_.empty()) native_ = std::move(native);
}

GlContext::~GlContext() = default;

bool GlContext::makeCurrent() {
    return native_ != nullptr && wglMakeCurrent(native_->deviceContext, native_->context) != FALSE;
}

struct NoCurrentContext::Saved {
    HDC deviceContext = wglGetCurrentDC();
    HGLRC context = wglGetCurrentContext();
};

NoCurrentContext::NoCurrentContext() : saved_(std::make_unique<Saved>()) {
    released_ = wglMakeCurrent(nullptr, nullptr) != FALSE;
}

NoCurrentContext::~NoCurrentContext() {
    if (saved_->context != nullptr) wglMakeCurrent(saved_->deviceContext, saved_->context);
}

}  // namespace zelvan_support
