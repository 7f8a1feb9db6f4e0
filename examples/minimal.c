/*
 * A complete Zelvan program in C99: a GLFW window with a projection of one unit per window pixel,
 * a picture made in memory (1600 x 1000 pixels, so 4 x 2 blocks), drawn at 0.3 scale and turned
 * 15 degrees about its centre, which lies at the window's centre. Escape or closing the window ends it.
 *
 * Usage: zelvan-minimal-c [--check]
 *   --check  draws three frames, then reads the pixel at the window's centre and exits with 0 if it
 *            shows the picture's centre (orange), 1 if not.
 */
#include <GLFW/glfw3.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zelvan.h>

#define PICTURE_WIDTH 1600
#define PICTURE_HEIGHT 1000
#define WINDOW_WIDTH 640
#define WINDOW_HEIGHT 480

static const unsigned char kOrange[3] = {255, 140, 0}; /* red, green, blue */

/* Blue-green-red-alpha rows, PICTURE_WIDTH * 4 bytes apart: squares of 100 pixels in two blues and
 * an orange disc at the centre. NULL when memory runs out. */
static unsigned char* makePicture(void) {
    unsigned char* pixels = malloc((size_t)PICTURE_WIDTH * PICTURE_HEIGHT * 4);
    long x, y;
    if (pixels == NULL) return NULL;
    for (y = 0; y < PICTURE_HEIGHT; ++y)
        for (x = 0; x < PICTURE_WIDTH; ++x) {
            unsigned char* p = pixels + ((size_t)y * PICTURE_WIDTH + (size_t)x) * 4;
            const long dx = x - PICTURE_WIDTH / 2, dy = y - PICTURE_HEIGHT / 2;
            const int light = (x / 100 + y / 100) % 2;
            if (dx * dx + dy * dy < 150 * 150) {
                p[0] = kOrange[2], p[1] = kOrange[1], p[2] = kOrange[0];
            } else {
                p[0] = light ? 230 : 140, p[1] = light ? 160 : 70, p[2] = light ? 60 : 20;
            }
            p[3] = 255;
        }
    return pixels;
}

/* Hands every block its top-left pixel; the library reads the block's rows from there. */
static int upload(ZelvanHandle image, const unsigned char* pixels) {
    const int32_t pitch = PICTURE_WIDTH * 4;
    uint32_t row, col;
    for (row = 0; row < ZelvanGetVBlocks(image); ++row)
        for (col = 0; col < ZelvanGetHBlocks(image); ++col) {
            uint32_t x, y;
            if (!ZelvanGetBlockDem(image, row, col, &x, &y, NULL, NULL) ||
                !ZelvanSetBlockPtr(image, row, col, pixels + (size_t)y * pitch + (size_t)x * 4, pitch))
                return 0;
        }
    return 1;
}

/* Puts the picture's centre at (x, y), turned by `degrees` about it. The library turns about the
 * picture's bottom-left corner and then translates inside the turned frame: the corner's translation
 * is the centre turned back, less half the picture's size. */
static void placeByCentre(ZelvanHandle image, double scale, double degrees, double x, double y) {
    const double angle = degrees * 3.14159265358979323846 / 180.0;
    const double backX = cos(angle) * x + sin(angle) * y, backY = -sin(angle) * x + cos(angle) * y;
    ZelvanScale(image, (float)scale, (float)scale, false);
    ZelvanRotate(image, 0.0f, 0.0f, (float)degrees);
    ZelvanTranslate(image, (float)(backX - PICTURE_WIDTH * scale / 2),
                    (float)(backY - PICTURE_HEIGHT * scale / 2), 0.0f);
}

/* 0 when the window's centre shows the picture's centre colour. */
static int checkCentre(GLFWwindow* window) {
    unsigned char rgba[4] = {0, 0, 0, 0};
    int width, height;
    glfwGetFramebufferSize(window, &width, &height);
    glReadPixels(width / 2, height / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    if (memcmp(rgba, kOrange, 3) == 0) return 0;
    fprintf(stderr, "zelvan-minimal-c: the centre pixel is %d %d %d, not the picture's orange\n", rgba[0],
            rgba[1], rgba[2]);
    return 1;
}

int main(int argc, char** argv) {
    const int check = argc == 2 && strcmp(argv[1], "--check") == 0;
    GLFWwindow* window;
    ZelvanHandle image = 0;
    unsigned char* pixels;
    int frame, status = 0;

    if (argc > 2 || (argc == 2 && !check)) {
        fprintf(stderr, "usage: zelvan-minimal-c [--check]\n");
        return 2;
    }
    if (!glfwInit()) {
        fprintf(stderr, "zelvan-minimal-c: GLFW cannot start (is there a display?)\n");
        return 1;
    }
    window = glfwCreateWindow(WINDOW_WIDTH, WINDOW_HEIGHT, "Zelvan in C", NULL, NULL);
    if (window == NULL) {
        fprintf(stderr, "zelvan-minimal-c: no window with an OpenGL context\n");
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);

    pixels = makePicture();
    if (pixels != NULL && ZelvanInit()) image = ZelvanCreate(PICTURE_WIDTH, PICTURE_HEIGHT);
    if (image == 0 || !upload(image, pixels)) {
        fprintf(stderr, "zelvan-minimal-c: the picture cannot be made or uploaded\n");
        status = 1;
    }
    free(pixels); /* the textures hold the pixels now */
    placeByCentre(image, 0.3, 15.0, WINDOW_WIDTH / 2.0, WINDOW_HEIGHT / 2.0);

    for (frame = 0; status == 0 && !glfwWindowShouldClose(window); ++frame) {
        int width, height;
        glfwGetFramebufferSize(window, &width, &height);
        glViewport(0, 0, width, height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, WINDOW_WIDTH, 0, WINDOW_HEIGHT, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.11f, 0.13f, 0.15f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ZelvanDraw(image);
        if (check && frame == 2) {
            status = checkCentre(window);
            break;
        }
        glfwSwapBuffers(window);
        glfwPollEvents();
        if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS) break;
    }

    ZelvanDestroy(image);
    ZelvanShutdown(); /* with the context still current: it deletes the textures */
    glfwDestroyWindow(window);
    glfwTerminate();
    return status;
}
