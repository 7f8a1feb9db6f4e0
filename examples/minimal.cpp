// examples/minimal.c in C++ through zelvan_pyramid.hpp: a GLFW window with a projection of one unit per
// window pixel, a picture made in memory (1600 x 1000 pixels), fitted into the window at three
// quarters of the size that fits and turned 15 degrees about its centre. It is drawn through a
// Pyramid, which shows it zoomed out without moire. Escape or closing the window ends it.
//
// Usage: zelvan-minimal-cpp [--check]
//   --check  draws three frames, then reads the pixel at the window's centre and exits with 0 if it
//            shows the picture's centre (orange), 1 if not.
#include <GLFW/glfw3.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>
#include <zelvan_pyramid.hpp>

namespace {

constexpr std::uint32_t kPictureWidth = 1600, kPictureHeight = 1000;
constexpr int kWindowWidth = 640, kWindowHeight = 480;
constexpr unsigned char kOrange[3] = {255, 140, 0};  // red, green, blue

// Blue-green-red-alpha rows: squares of 100 pixels in two blues and an orange disc at the centre.
std::vector<unsigned char> makePicture() {
    std::vector<unsigned char> pixels(std::size_t{kPictureWidth} * kPictureHeight * 4);
    for (std::uint32_t y = 0; y < kPictureHeight; ++y)
        for (std::uint32_t x = 0; x < kPictureWidth; ++x) {
            unsigned char* p = &pixels[(std::size_t{y} * kPictureWidth + x) * 4];
            const long dx = long(x) - kPictureWidth / 2, dy = long(y) - kPictureHeight / 2;
            const bool light = (x / 100 + y / 100) % 2 != 0;
            using Byte = unsigned char;
            const Byte square[3] = {Byte(light ? 230 : 140), Byte(light ? 160 : 70), Byte(light ? 60 : 20)};
            const bool disc = dx * dx + dy * dy < 150 * 150;
            for (int c = 0; c < 3; ++c) p[c] = disc ? kOrange[2 - c] : square[c];
            p[3] = 255;
        }
    return pixels;
}

// 0 when the window's centre shows the picture's centre colour.
int checkCentre(GLFWwindow* window) {
    unsigned char rgba[4] = {};
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glReadPixels(width / 2, height / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    if (std::memcmp(rgba, kOrange, 3) == 0) return 0;
    std::fprintf(stderr, "zelvan-minimal-cpp: the centre pixel is %d %d %d, not the picture's orange\n",
                 rgba[0], rgba[1], rgba[2]);
    return 1;
}

// Draws until the window closes (or three frames with check) and returns the exit status.
int run(GLFWwindow* window, bool check) {
    zelvan::Library library;
    const std::vector<unsigned char> pixels = makePicture();
    zelvan::Pyramid picture(kPictureWidth, kPictureHeight);
    if (!library || !picture.upload(pixels.data(), kPictureWidth * 4, pixels.size())) {
        std::fprintf(stderr, "zelvan-minimal-cpp: the picture cannot be uploaded\n");
        return 1;
    }
    zelvan::Placement placement = zelvan::fit(kPictureWidth, kPictureHeight, kWindowWidth, kWindowHeight);
    placement.scaleX = placement.scaleY = placement.scaleX * 0.75;
    placement.rotateZ = 15;
    picture.place(placement);

    for (int frame = 0; !glfwWindowShouldClose(window); ++frame) {
        int width = 0, height = 0;
        glfwGetFramebufferSize(window, &width, &height);
        glViewport(0, 0, width, height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kWindowWidth, 0, kWindowHeight, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.11f, 0.13f, 0.15f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        picture.draw(double(width) / kWindowWidth);  // screen pixels per unit
        if (check && frame == 2) return checkCentre(window);
        glfwSwapBuffers(window);
        glfwPollEvents();
        if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS) break;
    }
    return 0;
}  // the picture, then the library, go here, while the context is still current

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 2 && std::strcmp(argv[1], "--check") == 0;
    if (argc > 2 || (argc == 2 && !check)) {
        std::fprintf(stderr, "usage: zelvan-minimal-cpp [--check]\n");
        return 2;
    }
    if (!glfwInit()) {
        std::fprintf(stderr, "zelvan-minimal-cpp: GLFW cannot start (is there a display?)\n");
        return 1;
    }
    GLFWwindow* window = glfwCreateWindow(kWindowWidth, kWindowHeight, "Zelvan in C++", nullptr, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "zelvan-minimal-cpp: no window with an OpenGL context\n");
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);
    const int status = run(window, check);
    glfwDestroyWindow(window);
    glfwTerminate();
    return status;
}
