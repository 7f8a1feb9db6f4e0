/*
 * A C99 user of an installed libzelvan, built with pkg-config only: draws a 2 x 2 image over the
 * whole of a 16 x 16 pbuffer and checks one pixel in each quadrant.
 *
 * It links EGL and libzelvan but not libGL: its one OpenGL call, glReadPixels, comes from
 * eglGetProcAddress, so libGL has to reach the link through zelvan's own package metadata.
 * On Windows it draws into the back buffer of a 16 x 16 window instead, through WGL, and links
 * opengl32 itself (WGL lives there).
 */
#ifdef _WIN32
#include <windows.h>
#else
#include <EGL/egl.h>
#include <EGL/eglext.h>
#endif
#include <GL/gl.h>
#include <stdio.h>
#include <zelvan.h>

#define SIDE 16

#ifndef GLAPIENTRY
#define GLAPIENTRY APIENTRY
#endif
typedef void(GLAPIENTRY* ReadPixelsFn)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*);

#ifdef _WIN32
struct Context {
    HWND window;
    HDC deviceContext;
    HGLRC context;
};

static const char* openContext(struct Context* gl) {
    WNDCLASSA windowClass = {0};
    PIXELFORMATDESCRIPTOR format = {0};
    int index;

    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "draw_quadrants";
    if (!RegisterClassA(&windowClass)) return "cannot register the window class";
    /* A pop-up window has no frame: its client area is SIDE x SIDE. */
    gl->window = CreateWindowExA(0, "draw_quadrants", "draw_quadrants", WS_POPUP | WS_VISIBLE, 0, 0, SIDE,
                                 SIDE, NULL, NULL, windowClass.hInstance, NULL);
    if (gl->window == NULL) return "cannot create a window";
    gl->deviceContext = GetDC(gl->window);
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 32;
    index = ChoosePixelFormat(gl->deviceContext, &format);
    if (index == 0 || !SetPixelFormat(gl->deviceContext, index, &format))
        return "no RGBA pixel format for OpenGL windows";
    gl->context = wglCreateContext(gl->deviceContext);
    if (gl->context == NULL) return "cannot create an OpenGL context";
    if (!wglMakeCurrent(gl->deviceContext, gl->context)) return "cannot make the context current";
    return NULL;
}

/* Reads the back buffer, where the image is drawn: a double-buffered window's default read buffer. */
static ReadPixelsFn readPixelsFunction(void) { return glReadPixels; }

static void closeContext(struct Context* gl) {
    wglMakeCurrent(NULL, NULL);
    wglDeleteContext(gl->context);
    ReleaseDC(gl->window, gl->deviceContext);
    DestroyWindow(gl->window);
}
#else
struct Context {
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
};

static const char* openContext(struct Context* gl) {
    static const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
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
    static const EGLint surfaceAttributes[] = {EGL_WIDTH, SIDE, EGL_HEIGHT, SIDE, EGL_NONE};
    EGLConfig config;
    EGLint count = 0;

    gl->display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, NULL);
    if (gl->display == EGL_NO_DISPLAY || !eglInitialize(gl->display, NULL, NULL))
        return "cannot open Mesa's surfaceless EGL display";
    if (!eglBindAPI(EGL_OPENGL_API)) return "EGL cannot bind desktop OpenGL";
    if (!eglChooseConfig(gl->display, configAttributes, &config, 1, &count) || count < 1)
        return "no RGBA8 pbuffer configuration";
    gl->surface = eglCreatePbufferSurface(gl->display, config, surfaceAttributes);
    if (gl->surface == EGL_NO_SURFACE) return "cannot create a pbuffer";
    gl->context = eglCreateContext(gl->display, config, EGL_NO_CONTEXT, NULL);
    if (gl->context == EGL_NO_CONTEXT) return "cannot create an OpenGL context";
    if (!eglMakeCurrent(gl->display, gl->surface, gl->surface, gl->context))
        return "cannot make the context current";
    return NULL;
}

static ReadPixelsFn readPixelsFunction(void) { return (ReadPixelsFn)eglGetProcAddress("glReadPixels"); }

static void closeContext(struct Context* gl) {
    eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(gl->display, gl->context);
    eglDestroySurface(gl->display, gl->surface);
    eglTerminate(gl->display);
}
#endif

/* Uploads the image block by block, as the header's typical use shows. */
static ZelvanHandle createImage(const uint8_t* pixels, uint32_t width, uint32_t height) {
    const int32_t pitch = (int32_t)(width * 4);
    ZelvanHandle image = ZelvanCreate(width, height);
    uint32_t row, col;
    for (row = 0; row < ZelvanGetVBlocks(image); ++row)
        for (col = 0; col < ZelvanGetHBlocks(image); ++col) {
            uint32_t x, y;
            if (!ZelvanGetBlockDem(image, row, col, &x, &y, NULL, NULL) ||
                !ZelvanSetBlockPtr(image, row, col, pixels + (size_t)y * (size_t)pitch + (size_t)x * 4,
                                   pitch))
                return 0;
        }
    return image;
}

int main(void) {
    /* Blue, green, red, alpha: red and green on the first (top) row, blue and white below. */
    static const uint8_t pixels[] = {0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255};
    static const struct {
        int x, y;
        uint8_t rgba[4];
    } expected[] = {{4, 12, {255, 0, 0, 255}},
                    {12, 12, {0, 255, 0, 255}},
                    {4, 4, {0, 0, 255, 255}},
                    {12, 4, {255, 255, 255, 255}}};
    struct Context gl;
    const char* error = openContext(&gl);
    ReadPixelsFn readPixels = NULL;
    ZelvanHandle image;
    size_t i;
    int failures = 0;

    if (error != NULL) {
        fprintf(stderr, "draw_quadrants: %s\n", error);
        return 1;
    }
    readPixels = readPixelsFunction();
    if (readPixels == NULL || ZelvanInit() != 1) {
        fprintf(stderr, "draw_quadrants: cannot start\n");
        return 1;
    }
    image = createImage(pixels, 2, 2);
    if (image == 0) {
        fprintf(stderr, "draw_quadrants: cannot create or upload the image\n");
        return 1;
    }
    /* The default projection is the identity: a 2 x 2 unit image from (-1, -1) fills the pbuffer. */
    ZelvanScale(image, 2.0f, 2.0f, true);
    ZelvanTranslate(image, -1.0f, -1.0f, 0.0f);
    ZelvanDraw(image);

    for (i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
        uint8_t got[4] = {0, 0, 0, 0};
        readPixels(expected[i].x, expected[i].y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, got);
        if (got[0] != expected[i].rgba[0] || got[1] != expected[i].rgba[1] || got[2] != expected[i].rgba[2] ||
            got[3] != expected[i].rgba[3]) {
            fprintf(stderr, "draw_quadrants: pixel (%d, %d) is %d %d %d %d, expected %d %d %d %d\n",
                    expected[i].x, expected[i].y, got[0], got[1], got[2], got[3], expected[i].rgba[0],
                    expected[i].rgba[1], expected[i].rgba[2], expected[i].rgba[3]);
            ++failures;
        }
    }

    ZelvanDestroy(image);
    ZelvanShutdown();
    closeContext(&gl);
    if (failures == 0) printf("draw_quadrants: ok\n");
    return failures == 0 ? 0 : 1;
}
