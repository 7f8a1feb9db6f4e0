// A C++ user of Zelvan::zelvan through zelvan.hpp and zelvan_pyramid.hpp: draws the seam between the
// two block columns of a 514 x 2 image, one image pixel per framebuffer pixel, as an Image and as a
// Pyramid (level 0 at that scale), and checks the four pixels around it.
//
// It links EGL and Zelvan::zelvan but not libGL: its one OpenGL call, glReadPixels, comes from
// eglGetProcAddress, so libGL has to reach the link through Zelvan::zelvan.
#include <GL/gl.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>
#include <zelvan.hpp>
#include <zelvan_pyramid.hpp>

#include "egl_pbuffer.h"

namespace {

constexpr int kSide = 16;
using ReadPixelsFn = void(GLAPIENTRY*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*);
using ClearFn = void(GLAPIENTRY*)(GLbitfield);
using Rgba = std::array<std::uint8_t, 4>;

// Columns below 512 (the first block column) are red on the top row and green below; the two
// columns of the second block column are blue on top and white below. Memory order: B, G, R, A.
std::vector<std::uint8_t> seamImage(std::uint32_t width) {
    std::vector<std::uint8_t> pixels(std::size_t{width} * 2 * 4);
    for (std::uint32_t x = 0; x < width; ++x) {
        const bool secondBlock = x >= 512;
        const Rgba top = secondBlock ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 255, 255};
        const Rgba bottom = secondBlock ? Rgba{255, 255, 255, 255} : Rgba{0, 255, 0, 255};
        for (int i = 0; i < 4; ++i) {
            pixels[std::size_t{x} * 4 + i] = top[i];
            pixels[(std::size_t{width} + x) * 4 + i] = bottom[i];
        }
    }
    return pixels;
}

}  // namespace

int main() {
    Pbuffer pbuffer(kSide);
    const auto readPixels = reinterpret_cast<ReadPixelsFn>(eglGetProcAddress("glReadPixels"));
    const auto clear = reinterpret_cast<ClearFn>(eglGetProcAddress("glClear"));
    const zelvan::Library library;
    if (!pbuffer.isCurrent() || readPixels == nullptr || clear == nullptr || !library) {
        std::fprintf(stderr, "draw_seam: no surfaceless EGL context or no library instance\n");
        return 1;
    }
    const std::uint32_t width = 514;
    const std::vector<std::uint8_t> pixels = seamImage(width);
    zelvan::Image image(width, 2);
    zelvan::Pyramid pyramid(width, 2);
    if (ZelvanGetHBlocks(image.handle()) != 2 || !image.upload(pixels.data(), width * 4, pixels.size()) ||
        !pyramid.upload(pixels.data(), width * 4, pixels.size())) {
        std::fprintf(stderr, "draw_seam: cannot create or upload the image\n");
        return 1;
    }
    // Identity projection: 2 / 16 units per pixel maps each image pixel onto one framebuffer pixel,
    // and the bottom-left corner at (-1 - 504 / 8, -1) puts column 504 at the left edge, so the seam
    // falls between x = 7 and x = 8.
    zelvan::Placement placement;
    placement.scaleX = placement.scaleY = 0.125;
    placement.centreX = -1.0 - 504 * 0.125 + width * 0.125 / 2;
    placement.centreY = -1.0 + 2 * 0.125 / 2;
    image.place(placement);
    pyramid.place(placement);

    struct Probe {
        int x, y;
        Rgba rgba;
    };
    const Probe probes[] = {{7, 1, {255, 0, 0, 255}},
                            {8, 1, {0, 0, 255, 255}},
                            {7, 0, {0, 255, 0, 255}},
                            {8, 0, {255, 255, 255, 255}}};
    int failures = 0;
    for (const char* drawn : {"image", "pyramid"}) {
        clear(GL_COLOR_BUFFER_BIT);
        if (drawn[0] == 'i')
            image.draw();
        else
            pyramid.draw(16.0 / 2.0);  // framebuffer pixels per unit: level 0, one texel per pixel
        for (const Probe& probe : probes) {
            Rgba got{};
            readPixels(probe.x, probe.y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
            if (got != probe.rgba) {
                std::fprintf(stderr, "draw_seam: %s pixel (%d, %d) is %d %d %d %d, expected %d %d %d %d\n",
                             drawn, probe.x, probe.y, got[0], got[1], got[2], got[3], probe.rgba[0],
                             probe.rgba[1], probe.rgba[2], probe.rgba[3]);
                ++failures;
            }
        }
    }
    if (failures == 0) std::printf("draw_seam: ok\n");
    return failures == 0 ? 0 : 1;
}
