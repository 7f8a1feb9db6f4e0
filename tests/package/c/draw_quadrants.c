/*
 * A C99 user of an installed libzelvan, built with pkg-config only: draws a 2 x 2 image over the
 * whole of a 16 x 16 pbuffer and checks one pixel in each quadrant.
 *
 * It links EGL and libzelvan but not libGL: its one OpenGL call, glReadPixels, comes from
 * eglGetProcAddress, so libGL has to reach the link through zelvan's own package metadata.
 */
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <stdio.h>
#include <zelvan.h>

#define SIDE 16

typedef void(GLAPIENTRY* ReadPixelsFn)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*);

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
    struct Context gl = {EGL_NO_DISPLAY, EGL_NO_SURFACE, EGL_NO_CONTEXT};
    const char* error = openContext(&gl);
    ReadPixelsFn readPixels = NULL;
    ZelvanHandle image;
    size_t i;
    int failures = 0;

    if (error != NULL) {
        fprintf(stderr, "draw_quadrants: %s\n", error);
        return 1;
    }
    readPixels = (ReadPixelsFn)eglGetProcAddress("glReadPixels");
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
    eglMakeCurrent(gl.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(gl.display, gl.context);
    eglDestroySurface(gl.display, gl.surface);
    eglTerminate(gl.display);
    if (failures == 0) printf("draw_quadrants: ok\n");
    return failures == 0 ? 0 : 1;
}
