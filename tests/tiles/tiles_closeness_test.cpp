// The tile view and Pyramid near one texel per screen pixel, judged as a user sees them: whole frames
// read back and compared with the picture box-filtered in linear light (each screen pixel the mean of
// the level-0 pixels under its footprint, sampled at 16 x 16 points), computed here from the picture
// alone. The picture, 1024 x 1024, holds a quarter each of per-pixel noise, a fine sawtooth, 1-pixel
// lines and a photograph-like texture with sharp-edged discs; the tile view's levels are its exact 2^k x 2^k
// means.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "../support/sanitizers.h"
#include "gl_pixels.h"
#include "gl_test_environment.h"
#include "zelvan_pyramid.hpp"
#include "zelvan_tiles.hpp"

namespace {

constexpr int kSide = 1024, kFrame = zelvan_test::kSurfaceWidth;
enum Quarter { kNoise, kSawtooth, kLines, kPhoto };
constexpr double kPi = 3.14159265358979323846;

double linear(double v) {
    const double c = v / 255;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double encoded(double l) { return 255 * (l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055); }
std::uint32_t hash(std::uint32_t v) {
    v = (v ^ 61) ^ (v >> 16), v *= 9, v ^= v >> 4, v *= 0x27d4eb2d;
    return v ^ (v >> 15);
}

// Channel c (blue, green, red) of level-0 pixel (x, y), row 0 at the top.
int pixel(int x, int y, int c) {
    const int qx = x % 512, qy = y % 512;
    switch ((x >= 512) + 2 * (y >= 512)) {
        case kNoise:
            return 96 + int(hash(std::uint32_t(y * kSide + x) * 3 + c) % 65);
        case kSawtooth:
            return 100 + 24 * ((c == 0 ? qx : c == 1 ? qy : qx + qy) % (3 + c));
        case kLines:
            return qx % 7 == 0 || qy % 9 == 0 ? 230 - 20 * c : 40 + 10 * c;
        default: {  // sharp-edged discs over random values smoothly interpolated at every scale
            const int dx = qx % 40 - 20, dy = qy % 40 - 20;
            if (dx * dx + dy * dy < 150 + (qx / 40 * 37 + qy / 40 * 11) % 200)
                return 50 + 80 * c + qx / 40 * 3;
            double v = 120, amplitude = 48;
            for (int cell = 64; cell >= 1; cell /= 2, amplitude *= 0.7) {
                const double u = double(qx) / cell, w = double(qy) / cell;
                const int i = int(u), j = int(w);
                const auto at = [&](int a, int b) {
                    return double(hash(std::uint32_t(a * 997 + b * 131 + cell * 7 + c)) % 256) / 255 - 0.5;
                };
                const double fu = u - i, fw = w - j;
                v += amplitude * ((1 - fw) * ((1 - fu) * at(i, j) + fu * at(i + 1, j)) +
                                  fw * ((1 - fu) * at(i, j + 1) + fu * at(i + 1, j + 1)));
            }
            return int(std::lround(v));
        }
    }
}

// The picture and its levels, each an exact linear-light mean of the one above (so of level 0).
class Picture : public zelvan::TileSource {
public:
    Picture() : light0_(std::size_t{kSide} * kSide * 3) {
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                for (int c = 0; c < 3; ++c)
                    light0_[(std::size_t(y) * kSide + x) * 3 + c] = linear(pixel(x, y, c));
        std::vector<double> light = light0_;
        for (int side = kSide; side >= 1; side /= 2) {
            levels_.emplace_back(std::size_t(side) * side * 4, 255);
            for (std::size_t i = 0; i < std::size_t(side) * side; ++i)
                for (int c = 0; c < 3; ++c)
                    levels_.back()[i * 4 + c] = std::uint8_t(std::lround(encoded(light[i * 3 + c])));
            std::vector<double> next(std::size_t(side / 2) * (side / 2) * 3);
            for (std::size_t i = 0; i < next.size(); ++i) {
                const std::size_t x = i / 3 % (side / 2), y = i / 3 / (side / 2), c = i % 3;
                const auto at = [&](std::size_t dx, std::size_t dy) {
                    return light[((2 * y + dy) * side + 2 * x + dx) * 3 + c];
                };
                next[i] = (at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1)) / 4;
            }
            light.swap(next);
        }
    }
    // Channel c of level-0 pixel (x, y) in linear light.
    double light(int x, int y, int c) const { return light0_[(std::size_t(y) * kSide + x) * 3 + c]; }
    const std::vector<std::uint8_t>& level(std::size_t k) const { return levels_[k]; }
    std::size_t levelCount() const override { return levels_.size(); }
    zelvan::TileSize levelSize(std::size_t k) const override {
        return {std::uint32_t(kSide >> k), std::uint32_t(kSide >> k)};
    }
    bool read(std::size_t k, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* out, std::size_t pitch) override {
        for (std::uint32_t r = 0; r < height; ++r)
            std::copy_n(&levels_[k][(std::size_t(y + r) * (kSide >> k) + x) * 4], width * 4, out + r * pitch);
        return true;
    }

private:
    std::vector<double> light0_;
    std::vector<std::vector<std::uint8_t>> levels_;
};

struct View {
    double scale, degrees;
};

// Mean difference, per quarter, between the frame and the box-filtered picture, over the frame pixels
// whose footprint (and four screen pixels around it) lies inside one quarter.
std::array<double, 4> meanDifferences(const Picture& picture, const std::vector<std::uint8_t>& frame,
                                      const View& v) {
    const double c = std::cos(v.degrees * kPi / 180), s = std::sin(v.degrees * kPi / 180);
    const auto toPicture = [&](double px, double py, double& u, double& w) {  // screen to picture pixels
        const double dx = px - kFrame / 2.0, dy = py - kFrame / 2.0;
        u = kSide / 2.0 + (dx * c + dy * s) / v.scale;
        w = kSide / 2.0 - (-dx * s + dy * c) / v.scale;
    };
    std::array<double, 4> sum{}, count{};
    for (int py = 0; py < kFrame; ++py)
        for (int px = 0; px < kFrame; ++px) {
            double u0, w0, u1, w1;
            toPicture(px - 4, py - 4, u0, w0), toPicture(px + 5, py + 5, u1, w1);
            double u2, w2, u3, w3;
            toPicture(px - 4, py + 5, u2, w2), toPicture(px + 5, py - 4, u3, w3);
            const auto quarter = [](double u, double w) {
                return u < 0 || w < 0 || u >= kSide || w >= kSide ? -1 : (u >= 512) + 2 * (w >= 512);
            };
            const int q = quarter(u0, w0);
            if (q < 0 || quarter(u1, w1) != q || quarter(u2, w2) != q || quarter(u3, w3) != q) continue;
            double box[3] = {};
            for (int j = 0; j < 16; ++j)
                for (int i = 0; i < 16; ++i) {
                    double u, w;
                    toPicture(px + (i + 0.5) / 16, py + (j + 0.5) / 16, u, w);
                    for (int ch = 0; ch < 3; ++ch) box[ch] += picture.light(int(u), int(w), ch) / 256;
                }
            const std::uint8_t* got = &frame[(std::size_t(py) * kFrame + px) * 4];  // red, green, blue
            for (int ch = 0; ch < 3; ++ch) sum[q] += std::fabs(got[2 - ch] - encoded(box[ch]));
            count[q] += 3;
        }
    for (int q = 0; q < 4; ++q) sum[q] /= count[q];
    return sum;
}

using TileViewCloseness = zelvan_test::GlTest;

TEST_F(TileViewCloseness, NearOneTexelPerPixelFramesStayCloseToTheBoxFilteredPicture) {
    Picture picture;
    zelvan::Pyramid pyramid(kSide, kSide);
    ASSERT_TRUE(pyramid.upload(picture.level(0).data(), kSide * 4, picture.level(0).size()));
    zelvan::TileViewOptions options;
    options.readOnDrawingThread = true;
    zelvan::TileView view(picture, options);
    ASSERT_TRUE(view);
    const zelvan::Frame whole{0, 0, kFrame, kFrame, 1};
    // The worst mean difference per quarter, and what each may be: a little above what the finer level's
    // three passes reach. Drawn once, unshifted, it reaches 12.8, 16, 37 and 2.7; drawn twice over the
    // coarser, 5.2, 10.4, 21.6 and 2.5.
    std::array<double, 4> worst{};
    const std::array<double, 4> allowed = {6.3, 8.5, 23.0, 2.0};
    std::vector<View> views = {{0.97, 0},          {0.8, 0},   {0.6, 0},  {0.52, 0},
                               {510.0 / kSide, 0}, {0.97, 30}, {0.7, 17}, {0.52, 30}};
#if ZT_ADDRESS_SANITIZER
    views = {views.front(), views.back()};  // the sanitizers look for memory faults: two views will do
#endif
    for (const View& v : views)
        for (const bool tiles : {false, true}) {
            zelvan::Placement p;
            p.centreX = p.centreY = kFrame / 2.0;
            p.scaleX = p.scaleY = v.scale;
            p.rotateZ = v.degrees;
            zelvan_support::setUpOrtho(kFrame, kFrame);
            if (tiles) {
                view.place(p);
                for (int i = 0; i < 100 && !view.stats().complete; ++i) view.draw(whole);
                ASSERT_TRUE(view.stats().complete);
                glClear(GL_COLOR_BUFFER_BIT);
                view.draw(whole);
            } else {
                pyramid.place(p);
                pyramid.draw();
            }
            std::vector<std::uint8_t> frame(std::size_t{kFrame} * kFrame * 4);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, kFrame, kFrame, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
            const std::array<double, 4> d = meanDifferences(picture, frame, v);
            std::printf("%s scale %.3f, %g degrees: noise %.2f, sawtooth %.2f, lines %.2f, photo %.2f\n",
                        tiles ? "tiles  " : "pyramid", v.scale, v.degrees, d[0], d[1], d[2], d[3]);
            for (int q = 0; q < 4; ++q) worst[q] = std::max(worst[q], d[q]);
        }
    for (int q = 0; q < 4; ++q) EXPECT_LE(worst[q], allowed[q]) << "quarter " << q;
}

}  // namespace
