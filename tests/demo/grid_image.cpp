#include "grid_image.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace demo_test {

void GridImage::rowRgba(std::uint32_t y, std::uint8_t* rgba) const {
    for (std::uint32_t x = 0; x < width; ++x, rgba += 4) {
        const bool line = onLine(x, y);
        rgba[0] = line ? std::uint8_t{255} : red(x);
        rgba[1] = line ? std::uint8_t{255} : green(y);
        rgba[2] = line ? std::uint8_t{255} : kBlue;
        rgba[3] = 255;
    }
}

namespace {

// libpng longjmps here on error; no locals with destructors.
bool writePngRows(png_structp png, png_infop info, std::FILE* file, const GridImage& grid, bool interlaced,
                  std::uint8_t* rgba, std::uint8_t* rgb) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, grid.width, grid.height, 8, PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);  // big test images are made often; speed over size
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (std::uint32_t y = 0; y < grid.height; ++y) {
            grid.rowRgba(y, rgba);
            for (std::uint32_t x = 0; x < grid.width; ++x)
                for (int c = 0; c < 3; ++c) rgb[3 * std::size_t{x} + c] = rgba[4 * std::size_t{x} + c];
            png_write_row(png, rgb);
        }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

void writeGridPng(const std::string& path, std::uint32_t width, std::uint32_t height, bool interlaced) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) throw std::runtime_error(path + ": cannot create it");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    const GridImage grid{width, height};
    std::vector<std::uint8_t> rgba(std::size_t{width} * 4), rgb(std::size_t{width} * 3);
    const bool written =
        info != nullptr && writePngRows(png, info, file.get(), grid, interlaced, rgba.data(), rgb.data());
    png_destroy_write_struct(&png, &info);
    if (!written) throw std::runtime_error(path + ": libpng failed to write it");
}

void writeGridTiff(const std::string& path, TiffLayout layout, GridKind kind) {
    const bool wide = kind == GridKind::Grey16 || kind == GridKind::Rgb16;
    const bool grey = kind == GridKind::Grey || kind == GridKind::GreyAlpha || kind == GridKind::Grey16;
    layout.bits = wide ? 16 : 8;
    layout.photometric = kind == GridKind::Palette                 ? PHOTOMETRIC_PALETTE
                         : grey                                    ? PHOTOMETRIC_MINISBLACK
                         : layout.photometric == PHOTOMETRIC_YCBCR ? PHOTOMETRIC_YCBCR
                                                                   : PHOTOMETRIC_RGB;
    layout.samples = kind == GridKind::Rgba              ? 4
                     : kind == GridKind::GreyAlpha       ? 2
                     : grey || kind == GridKind::Palette ? 1
                                                         : 3;
    layout.extraSample = kind == GridKind::Rgba || kind == GridKind::GreyAlpha ? EXTRASAMPLE_UNASSALPHA : -1;
    if (kind == GridKind::Palette) {
        layout.colormap.resize(3 * 256);
        for (unsigned i = 0; i < 256; ++i) {
            layout.colormap[i] = std::uint16_t(i * 257);
            layout.colormap[256 + i] = std::uint16_t((255 - i) * 257);
            layout.colormap[512 + i] = 64 * 257;
        }
    }
    const GridImage grid{layout.width, layout.height};
    std::vector<std::uint8_t> rgba(std::size_t{layout.width} * 4);
    writeTiff(path, layout, [&](std::uint32_t y, std::uint16_t* samples) {
        grid.rowRgba(y, rgba.data());
        for (std::uint32_t x = 0; x < grid.width; ++x) {
            const std::uint8_t* pixel = &rgba[4 * std::size_t{x}];
            const unsigned scale = wide ? 257 : 1;
            if (grey) {
                *samples++ = std::uint16_t(pixel[1] * scale);
                if (kind == GridKind::GreyAlpha) *samples++ = pixel[3];
            } else if (kind == GridKind::Palette) {
                *samples++ = pixel[0];
            } else {
                for (int c = 0; c < layout.samples; ++c) *samples++ = std::uint16_t(pixel[c] * scale);
            }
        }
    });
}

}  // namespace demo_test
