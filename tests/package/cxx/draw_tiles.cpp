// A tile-view user of Zelvan::tiles: a 1200 x 900 picture of four colours meeting at (512, 512), where
// four tiles meet, drawn through zelvan::TileView by its worker threads one picture pixel per
// framebuffer pixel around that corner, until the view says the frame is complete; then the four
// pixels around the corner are checked.
//
// Like draw_seam it links EGL and the Zelvan target alone: libGL and the thread library come with
// Zelvan::tiles.
#include <GL/gl.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <zelvan_levels.hpp>
#include <zelvan_tiles.hpp>

#include "egl_pbuffer.h"

namespace {

constexpr int kSide = 64;
constexpr std::uint32_t kWidth = 1200, kHeight = 900, kCorner = 512;
using ReadPixelsFn = void(GLAPIENTRY*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*);
using ClearFn = void(GLAPIENTRY*)(GLbitfield);
using Rgb = std::array<int, 3>;
const Rgb kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255};

// Every level is drawn from level 0's colour at the pixel's centre: red top left, blue top right,
// green bottom left, white bottom right.
class Quadrants final : public zelvan::TileSource {
public:
    std::size_t levelCount() const override { return zelvan::levelCount(kWidth, kHeight); }
    zelvan::TileSize levelSize(std::size_t level) const override {
        return {zelvan::levelSide(kWidth, level), zelvan::levelSide(kHeight, level)};
    }
    bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        const double step = double(std::uint64_t{1} << level);
        for (std::uint32_t row = 0; row < height; ++row)
            for (std::uint32_t column = 0; column < width; ++column) {
                const bool right = (x + column + 0.5) * step >= kCorner,
                           low = (y + row + 0.5) * step >= kCorner;
                const Rgb& c = low ? (right ? kWhite : kGreen) : (right ? kBlue : kRed);
                unsigned char* p = pixels + row * pitch + column * 4;
                p[0] = std::uint8_t(c[2]), p[1] = std::uint8_t(c[1]), p[2] = std::uint8_t(c[0]), p[3] = 255;
            }
        return true;
    }
};

}  // namespace

int main() {
    Pbuffer pbuffer(kSide);
    const auto readPixels = reinterpret_cast<ReadPixelsFn>(eglGetProcAddress("glReadPixels"));
    const auto clear = reinterpret_cast<ClearFn>(eglGetProcAddress("glClear"));
    const zelvan::Library library;
    Quadrants source;
    zelvan::TileView view(source);
    if (!pbuffer.isCurrent() || readPixels == nullptr || clear == nullptr || !library || !view) {
        std::fprintf(stderr, "draw_tiles: no surfaceless EGL context, library instance or tile view\n");
        return 1;
    }
    // Identity projection: the corner of picture pixel (512, 512) at the origin, between framebuffer
    // pixels 31 and 32 both ways.
    zelvan::Placement corner;
    corner.scaleX = corner.scaleY = 2.0 / kSide;
    corner.centreX = (kWidth / 2.0 - kCorner) * corner.scaleX;
    corner.centreY = (kCorner - kHeight / 2.0) * corner.scaleY;
    view.place(corner);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        clear(GL_COLOR_BUFFER_BIT);
        view.draw({-1, -1, 1, 1, kSide / 2.0});
        if (view.stats().complete) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);

    const struct {
        int x, y;
        Rgb rgb;
    } probes[] = {{31, 32, kRed}, {32, 32, kBlue}, {31, 31, kGreen}, {32, 31, kWhite}};
    int failures = view.stats().complete ? 0 : 1;
    if (failures) std::fprintf(stderr, "draw_tiles: the frame is not complete after 20 s\n");
    for (const auto& probe : probes) {
        std::array<std::uint8_t, 4> got{};
        readPixels(probe.x, probe.y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
        if (Rgb{got[0], got[1], got[2]} != probe.rgb) {
            std::fprintf(stderr, "draw_tiles: pixel (%d, %d) is %d %d %d, expected %d %d %d\n", probe.x,
                         probe.y, got[0], got[1], got[2], probe.rgb[0], probe.rgb[1], probe.rgb[2]);
            ++failures;
        }
    }
    if (failures == 0) std::printf("draw_tiles: ok\n");
    return failures == 0 ? 0 : 1;
}
