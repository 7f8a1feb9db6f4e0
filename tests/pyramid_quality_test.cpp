// Pyramid::draw and a TileView zoomed out, judged against the picture box-filtered in linear light: drawn at
// the finer of the two nearest levels alone, 1-pixel lines vanish (the texels are under a screen pixel and
// nearest sampling skips some); drawn at the coarser alone, it blurs. The pictures hold 1-pixel lines, blue
// ones down and red ones across, over smooth gradients: blue is a function of x alone, red and green of y
// alone, so each channel's box filter is a 1-D running sum.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "gl_test_environment.h"
#include "zelvan_pyramid.hpp"
#include "zelvan_tiles.hpp"

namespace {

using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;

double linear(double srgb) {
    const double c = srgb / 255;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double encoded(double l) { return 255 * (l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055); }

// Fitted at `scale` into the frame's lower-left 512 x 128 pixels, with lines about 36 frame pixels
// apart: an odd spacing in picture pixels, so that the lines fall at every phase of each level's
// texels.
struct LinePicture {
    double scale;
    std::uint32_t width, height, spacing;
    explicit LinePicture(double s)
        : scale(s),
          width(std::uint32_t(std::lround(512 / s))),
          height(std::uint32_t(std::lround(128 / s))),
          spacing(std::uint32_t(36 / s) | 1) {}
    bool onLine(std::uint32_t v) const { return v >= 20 && (v - 20) % spacing == 0; }
    std::uint8_t blueBehind(std::uint32_t x) const {
        return std::uint8_t(40 + std::uint64_t{x} * 100 / width);
    }
    std::uint8_t redBehind(std::uint32_t y) const {
        return std::uint8_t(60 + std::uint64_t{y} * 80 / height);
    }
    std::uint8_t blue(std::uint32_t x) const { return onLine(x) ? 255 : blueBehind(x); }
    std::uint8_t red(std::uint32_t y) const { return onLine(y) ? 255 : redBehind(y); }
    std::uint8_t green(std::uint32_t y) const { return std::uint8_t(30 + std::uint64_t{y} * 180 / height); }
};

// One channel along one axis in linear light, and its box-filtered value over any span of pixels.
class Profile {
public:
    Profile(std::uint32_t size, const std::function<std::uint8_t(std::uint32_t)>& channel)
        : value_(size), sum_(size + 1) {
        for (std::uint32_t i = 0; i < size; ++i) {
            value_[i] = linear(channel(i));
            sum_[i + 1] = sum_[i] + value_[i];
        }
    }
    double filtered(double a, double b) const { return encoded((upTo(b) - upTo(a)) / (b - a)); }

private:
    double upTo(double t) const {
        const auto i = std::min(std::size_t(t), value_.size() - 1);
        return sum_[i] + (t - double(i)) * value_[i];
    }
    std::vector<double> value_, sum_;
};

using CxxPyramidQuality = zelvan_test::GlTest;

// A picture held in memory with its half-size levels, as a tile source.
class LevelsInMemory : public zelvan::TileSource {
public:
    LevelsInMemory(std::vector<std::uint8_t> pixels, std::uint32_t width, std::uint32_t height) {
        levels_.push_back({{width, height}, std::move(pixels)});
        while (width > 1 || height > 1) {
            const Level& above = levels_.back();
            const std::uint32_t w = (width + 1) / 2, h = (height + 1) / 2;
            std::vector<std::uint8_t> next(std::size_t{w} * h * 4);
            for (std::uint32_t y = 0; y < h; ++y) {
                const std::uint8_t* top = &above.pixels[std::size_t{2 * y} * width * 4];
                zelvan::detail::halveRows(top, 2 * y + 1 < height ? top + std::size_t{width} * 4 : nullptr,
                                          width, &next[std::size_t{y} * w * 4]);
            }
            levels_.push_back({{w, h}, std::move(next)});
            width = w, height = h;
        }
    }
    std::size_t levelCount() const override { return levels_.size(); }
    zelvan::TileSize levelSize(std::size_t level) const override { return levels_[level].size; }
    bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        const Level& l = levels_[level];
        for (std::uint32_t row = 0; row < height; ++row)
            std::copy_n(&l.pixels[(std::size_t{y + row} * l.size.width + x) * 4], std::size_t{width} * 4,
                        pixels + row * pitch);
        return true;
    }

private:
    struct Level {
        zelvan::TileSize size;
        std::vector<std::uint8_t> pixels;
    };
    std::vector<Level> levels_;
};

// Draws the picture placed, through a Pyramid or, once all its tiles are in, a TileView.
void drawPlaced(std::vector<std::uint8_t> pixels, std::uint32_t width, std::uint32_t height,
                const zelvan::Placement& placement, bool tiles, int passes = 3) {
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    if (!tiles) {
        zelvan::Pyramid pyramid(width, height);
        ASSERT_TRUE(pyramid.upload(pixels.data(), std::size_t{width} * 4, pixels.size()));
        pyramid.place(placement);
        pyramid.draw(1, passes);
        return;
    }
    LevelsInMemory source(std::move(pixels), width, height);
    // Even counts as the view is made with them; odd ones set once its tiles are in, after 16 (as
    // zelvan-view goes back to 3 as a view at rest moves): the noise's 3 against 16 needs both.
    zelvan::TileViewOptions options;
    options.passes = passes % 2 == 0 ? passes : 16;
    zelvan::TileView view(source, options);
    ASSERT_TRUE(view);
    view.place(placement);
    const zelvan::Frame frame{0, 0, double(kSurfaceWidth), double(kSurfaceHeight), 1};
    for (int i = 0; i < 5000 && !view.stats().complete; ++i) {
        view.draw(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(view.stats().complete);
    view.setPasses(passes);
    glClear(GL_COLOR_BUFFER_BIT);
    view.draw(frame);
}

TEST_F(CxxPyramidQuality, FittedViewsKeepEveryLineAndStayCloseToTheBoxFilter) {
    for (const bool tiles : {false, true})
        for (const double shrink : {10.0, 13.75, 25.0}) {
            SCOPED_TRACE(tiles ? "tile view" : "pyramid");
            const LinePicture p(1 / shrink);
            std::vector<std::uint8_t> pixels(std::size_t{p.width} * p.height * 4);
            for (std::uint32_t y = 0; y < p.height; ++y)
                for (std::uint32_t x = 0; x < p.width; ++x) {
                    std::uint8_t* px = &pixels[(std::size_t{y} * p.width + x) * 4];
                    px[0] = p.blue(x), px[1] = p.green(y), px[2] = p.red(y), px[3] = 255;
                }
            const double footWidth = p.width * p.scale, footHeight = p.height * p.scale;
            drawPlaced(std::move(pixels), p.width, p.height,
                       zelvan::fit(p.width, p.height, footWidth, footHeight), tiles);
            std::vector<std::uint8_t> frame(std::size_t{kSurfaceWidth} * kSurfaceHeight * 4);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
            const auto at = [&](int x, int y, int c) {
                return int(frame[(std::size_t(y) * kSurfaceWidth + x) * 4 + c]);
            };

            using namespace std::placeholders;
            const Profile red(p.height, std::bind(&LinePicture::red, &p, _1)),
                green(p.height, std::bind(&LinePicture::green, &p, _1)),
                blue(p.width, std::bind(&LinePicture::blue, &p, _1)),
                redBehind(p.height, std::bind(&LinePicture::redBehind, &p, _1)),
                blueBehind(p.width, std::bind(&LinePicture::blueBehind, &p, _1));
            // Frame pixels wholly inside the footprint (picture row 0 at its top), and the rest.
            const int columns = int(footWidth), rows = int(footHeight);
            const auto x0 = [&](int px) { return px / p.scale; };
            const auto y0 = [&](int py) { return p.height - (py + 1) / p.scale; };
            double difference[3] = {};
            int outsideDrawn = 0;
            for (int py = 0; py < kSurfaceHeight; ++py)
                for (int px = 0; px < kSurfaceWidth; ++px) {
                    if (px >= columns || py >= rows) {
                        const bool edge = px < std::ceil(footWidth) && py < std::ceil(footHeight);
                        outsideDrawn += !edge && (at(px, py, 0) | at(px, py, 1) | at(px, py, 2)) != 0;
                        continue;
                    }
                    const double xa = x0(px), xb = x0(px + 1), ya = y0(py), yb = y0(py - 1);
                    difference[0] += std::fabs(at(px, py, 0) - red.filtered(ya, yb));
                    difference[1] += std::fabs(at(px, py, 1) - green.filtered(ya, yb));
                    difference[2] += std::fabs(at(px, py, 2) - blue.filtered(xa, xb));
                }
            for (int c = 0; c < 3; ++c) {
                difference[c] /= double(columns) * rows;
                EXPECT_LE(difference[c], 1.5) << "channel " << c << " at 1/" << shrink;
            }
            EXPECT_EQ(outsideDrawn, 0) << "1/" << shrink;

            // A line is visible when along nine tenths of it the frame column (or row) it falls in, or a
            // neighbour, rises above the gradient behind by a third of what the box filter shows there.
            const auto rise = [&](int v, int i, bool down) {
                return down ? at(v, i, 2) - blueBehind.filtered(x0(v), x0(v + 1))
                            : at(i, v, 0) - redBehind.filtered(y0(v), y0(v - 1));
            };
            const auto visible = [&](double along, bool down) {
                const int centre = int(along), length = down ? rows : columns, across = down ? columns : rows;
                const double needed =
                    std::max(2.0, (down ? blue.filtered(x0(centre), x0(centre + 1)) -
                                              blueBehind.filtered(x0(centre), x0(centre + 1))
                                        : red.filtered(y0(centre), y0(centre - 1)) -
                                              redBehind.filtered(y0(centre), y0(centre - 1))) /
                                      3);
                int lit = 0;
                for (int i = 0; i < length; ++i) {
                    double most = 0;
                    for (int v = std::max(centre - 1, 0); v <= std::min(centre + 1, across - 1); ++v)
                        most = std::max(most, rise(v, i, down));
                    lit += most >= needed;
                }
                return lit * 10 >= length * 9;
            };
            int lines = 0, shown = 0;
            for (std::uint32_t v = 20; v < p.width; v += p.spacing, ++lines)
                shown += visible((v + 0.5) * p.scale, true);
            for (std::uint32_t v = 20; v < p.height; v += p.spacing, ++lines)
                shown += visible(footHeight - (v + 0.5) * p.scale, false);
            EXPECT_EQ(shown, lines) << "lines visible at 1/" << shrink;
            std::printf("%s 1/%g: %d of %d lines visible; mean differences %.2f %.2f %.2f\n",
                        tiles ? "tiles" : "pyramid", shrink, shown, lines, difference[0], difference[1],
                        difference[2]);
        }
}

TEST_F(CxxPyramidQuality, TwoLevelsTogetherShowThePlacementsOpacity) {
    // White at opacity 128 over black, fitted at scales between levels: the layers blend to 128/255.
    const std::vector<std::uint8_t> white(std::size_t{900} * 900 * 4, 255);
    for (const bool tiles : {false, true})
        for (const double side : {150.0, 210.0, 320.0, 400.0}) {
            zelvan::Placement placement = zelvan::fit(900, 900, side, side);
            placement.alpha = 128;
            drawPlaced(white, 900, 900, placement, tiles);
            EXPECT_NEAR(zelvan_support::readPixel(int(side / 2), int(side / 2)).r, 128, 2)
                << "fitted to " << side << (tiles ? " as tiles" : "");
        }
}

// Opaque or translucent over black, a flat picture shows one colour, the same at every pass count: the
// passes' 8-bit shares add up to the placement's opacity (white shows it within a level; grey, translucent,
// also has every pass's blend rounded to 8 bits).
TEST_F(CxxPyramidQuality, EveryPassCountShowsAFlatPictureInOneColour) {
    for (const int value : {255, 150}) {
        std::vector<std::uint8_t> flat(std::size_t{900} * 900 * 4, std::uint8_t(value));
        for (std::size_t i = 3; i < flat.size(); i += 4) flat[i] = 255;
        for (const bool tiles : {false, true})
            for (const int alpha : {100, 128, 255}) {
                zelvan::Placement placement = zelvan::fit(900, 900, 210, 210);
                placement.alpha = std::uint8_t(alpha);
                for (const int passes : {1, 3, 4, 8, 16}) {
                    drawPlaced(flat, 900, 900, placement, tiles, passes);
                    EXPECT_NEAR(zelvan_support::readPixel(105, 105).r, value * alpha / 255.0,
                                value == 255 || alpha == 255 ? 1 : 2.5)
                        << value << " at " << alpha << ", " << passes << " passes"
                        << (tiles ? " as tiles" : "");
                }
            }
    }
}

// Per-pixel noise fitted at 1/10 and 1/25 (each screen pixel exactly shrink x shrink picture pixels), and
// 1-pixel white lines over grey at scales between 1/8 and 1/12, their phases spread by an odd spacing.
TEST_F(CxxPyramidQuality, SixteenPassesComeCloserToTheBoxFilterAndKeepLines) {
    constexpr int kWide = 128, kHigh = 64;
    std::vector<std::uint8_t> frame(std::size_t{kSurfaceWidth} * kSurfaceHeight * 4);
    const auto drawn = [&](const std::vector<std::uint8_t>& pixels, std::uint32_t w, std::uint32_t h,
                           double shrink, bool tiles, int passes) {
        drawPlaced(pixels, w, h, zelvan::fit(w, h, w / shrink, h / shrink), tiles, passes);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
        return [&](int x, int y) { return int(frame[(std::size_t(y) * kSurfaceWidth + x) * 4]); };
    };
    for (const bool tiles : {false, true})
        for (const int shrink : {10, 25}) {
            const std::uint32_t w = kWide * shrink, h = kHigh * shrink;
            const std::size_t cell = shrink == 10 ? 8 : 16;  // a texel of the finer level drawn
            std::vector<std::uint8_t> noise(std::size_t{w} * h * 4, 255);
            for (std::size_t i = 0; i < noise.size(); i += 4)
                noise[i] = noise[i + 1] = noise[i + 2] = std::uint8_t(
                    ((i / 4 / w / cell * 4096 + i / 4 % w / cell) * 2654435761u >> 13) % 200 + 28);
            // mean[2]: the best blended draws can do. Each cell is one texel of the finer level, so the
            // level's texels are the cells' values; OpenGL 1.1 blends them as stored, in sRGB values, so
            // the bound is the texels' area-weighted mean over each screen pixel taken in those values.
            double mean[3] = {};
            const auto overlap = [&](int pixel, std::size_t texel) {
                const double from = std::max(double(pixel) * shrink, double(texel * cell));
                const double to = std::min(double(pixel + 1) * shrink, double((texel + 1) * cell));
                return std::max(0.0, to - from) / shrink;
            };
            for (const int passes : {3, 16}) {
                const auto at = drawn(noise, w, h, shrink, tiles, passes);
                for (int py = 0; py < kHigh; ++py)
                    for (int px = 0; px < kWide; ++px) {
                        double box = 0, blended = 0;
                        const int top = kHigh - 1 - py;
                        for (int y = top * shrink, i = 0; i < shrink; ++i)
                            for (int x = px * shrink, j = 0; j < shrink; ++j)
                                box += linear(noise[(std::size_t(y + i) * w + x + j) * 4]);
                        for (std::size_t ty = std::size_t(top) * shrink / cell;
                             ty * cell < (top + 1) * std::size_t(shrink); ++ty)
                            for (std::size_t tx = std::size_t(px) * shrink / cell;
                                 tx * cell < (px + 1) * std::size_t(shrink); ++tx)
                                blended += overlap(top, ty) * overlap(px, tx) *
                                           noise[(ty * cell * w + tx * cell) * 4];
                        mean[passes == 16] += std::fabs(at(px, py) - encoded(box / shrink / shrink));
                        if (passes == 16) mean[2] += std::fabs(blended - encoded(box / shrink / shrink));
                    }
            }
            for (double& m : mean) m /= kWide * kHigh;
            std::printf(
                "%s noise 1/%d: mean difference %.2f at 3 passes, %.2f at 16 (ratio %.2f), %.2f for the "
                "texels blended exactly\n",
                tiles ? "tiles" : "pyramid", shrink, mean[0], mean[1], mean[0] / mean[1], mean[2]);
            // Twice as close as 3 passes, or as close as the texels blended exactly, within a level.
            EXPECT_LE(mean[1], std::max(mean[0] / 2, mean[2] + 1))
                << "1/" << shrink << (tiles ? " as tiles" : "");
        }
    // A line's light, summed over the frame columns around it, against the box filter's rise: at least
    // half of it at 20 scales from 1/8.1 to 1/11.9, each with lines at many phases.
    for (const int passes : {3, 4, 16}) {
        double least = 1;
        for (int step = 0; step < 20; ++step) {
            const double shrink = 8.1 + 0.2 * step;
            const auto w = std::uint32_t(kWide * shrink), h = std::uint32_t(8 * shrink);
            const auto spacing = std::uint32_t(13 * shrink) | 1;
            std::vector<std::uint8_t> lines(std::size_t{w} * h * 4, 255);
            for (std::size_t i = 0; i < lines.size(); i += 4)
                lines[i] = lines[i + 1] = lines[i + 2] = (i / 4 % w) % spacing == 7 ? 255 : 60;
            const auto at = drawn(lines, w, h, shrink, false, passes);
            const double full = encoded(linear(60) + (1 - linear(60)) / shrink) - 60;
            for (std::uint32_t x = 7 + spacing; x + spacing < w; x += spacing) {
                const int centre = int((x + 0.5) / shrink);
                const int rise = at(centre - 1, 4) + at(centre, 4) + at(centre + 1, 4) - 3 * 60;
                least = std::min(least, rise / full);
                EXPECT_GE(rise, full / 2) << "1/" << shrink << ", line " << x << ", " << passes << " passes";
            }
        }
        std::printf("lines at %d passes keep at least %.2f of their contrast\n", passes, least);
    }
}

}  // namespace
