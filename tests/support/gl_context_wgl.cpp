// The test context on Windows: WGL on a shown, frameless window whose client area is the requested
// size. The pixel format is double-buffered and tests read back the back buffer (the default read
// buffer then), which no other window can cover and nothing but the test draws into.
#include <GL/gl.h>

#include "gl_context.h"

namespace zelvan_test {

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

GlContext::GlContext(int width, int height) : width_(width), height_(height) {
    if (!registerWindowClass()) {
        error_ = "cannot register the window class";
        return;
    }
    // A pop-up window has no frame or caption, so the client area is exactly width x height.
    window_ = CreateWindowExW(0, kWindowClass, L"Zelvan test", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) {
        error_ = "cannot create a window";
        return;
    }
    handlePendingMessages();
    deviceContext_ = GetDC(window_);
    const int format = rgba8Format(deviceContext_);
    PIXELFORMATDESCRIPTOR chosen{};
    if (format == 0 || DescribePixelFormat(deviceContext_, format, sizeof chosen, &chosen) == 0 ||
        !SetPixelFormat(deviceContext_, format, &chosen)) {
        error_ = "no double-buffered RGBA8 pixel format for OpenGL windows";
        return;
    }
    context_ = wglCreateContext(deviceContext_);
    if (context_ == nullptr) {
        error_ = "cannot create an OpenGL context";
        return;
    }
    if (!makeCurrent()) {
        wglDeleteContext(context_);
        context_ = nullptr;
        error_ = "cannot make the OpenGL context current";
    }
}

GlContext::~GlContext() {
    if (context_ != nullptr) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(context_);
    }
    if (deviceContext_ != nullptr) ReleaseDC(window_, deviceContext_);
    if (window_ != nullptr) DestroyWindow(window_);
}

bool GlContext::makeCurrent() { return wglMakeCurrent(deviceContext_, context_) != FALSE; }

}  // namespace zelvan_test
