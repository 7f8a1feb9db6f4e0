#pragma once
// The picture of the scale tests, made a row at a time so that it can be far larger than memory:
// red rising from left to right, green from top to bottom, blue 64, opaque, crossed every 1000
// pixels by white lines 3 pixels wide (columns and rows 1000k to 1000k + 2). Its box-filtered
// view is known in closed form: the gradient's mean plus the share of line pixels in each box.
#include <cstdint>
#include <string>

#include "tiff_writer.h"

namespace demo_test {

struct GridImage {
    static constexpr std::uint32_t kSpacing = 1000, kLineWidth = 3;
    std::uint32_t width = 0, height = 0;

    static bool onLine(std::uint32_t v) { return v % kSpacing < kLineWidth; }
    bool onLine(std::uint32_t x, std::uint32_t y) const { return onLine(x) || onLine(y); }
    // The gradient beside the lines: red across, green down, blue 64.
    std::uint8_t red(std::uint32_t x) const { return std::uint8_t(std::uint64_t{x} * 256 / width); }
    std::uint8_t green(std::uint32_t y) const { return std::uint8_t(std::uint64_t{y} * 256 / height); }
    static constexpr std::uint8_t kBlue = 64;
    // Row y as red-green-blue-alpha bytes, 4 x width of them.
    void rowRgba(std::uint32_t y, std::uint8_t* rgba) const;
};

// An RGB PNG of the grid, written a row at a time (and again for each interlace pass).
void writeGridPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                  bool interlaced = false);

// How the grid's colours become TIFF samples: Grey is its green channel, Palette indexes its red
// channel into a map of i -> (i, 255 - i, 64), the 16-bit kinds repeat each byte.
enum class GridKind { Rgb, Rgba, Grey, GreyAlpha, Palette, Grey16, Rgb16 };

// A TIFF of the grid; `layout` gives its size, tiles or strips, BigTIFF, compression and
// orientation (the grid is stored as is: other orientations show it turned), `kind` the rest.
void writeGridTiff(const std::string& path, TiffLayout layout, GridKind kind);

}  // namespace demo_test
