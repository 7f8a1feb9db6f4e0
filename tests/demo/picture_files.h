#pragma once
// Test pictures in memory and as PNG and JPEG files, written and read with libpng and libjpeg.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace demo_test {

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Rgba& o) const { return !(*this == o); }
};
// Lets GoogleTest print a pixel as (r, g, b, a).
void PrintTo(const Rgba& pixel, std::ostream* out);

// RGBA pixels, top row first.
struct Picture {
    std::uint32_t width = 0, height = 0;
    std::vector<Rgba> pixels;

    Picture() = default;
    Picture(std::uint32_t w, std::uint32_t h, Rgba fill = {0, 0, 0, 255})
        : width(w), height(h), pixels(std::size_t{w} * h, fill) {}
    Rgba& at(std::uint32_t x, std::uint32_t y) { return pixels[std::size_t{y} * width + x]; }
    const Rgba& at(std::uint32_t x, std::uint32_t y) const { return pixels[std::size_t{y} * width + x]; }
};

// Red top-left, green top-right, blue bottom-left, white bottom-right.
Picture quadrants(std::uint32_t width, std::uint32_t height);

enum class PngKind { Rgba, Rgb, Grey };
void writePng(const std::string& path, const Picture& picture, PngKind kind = PngKind::Rgba);
// Cmyk is stored as Adobe's programs do, inverted: 255 means no ink.
enum class JpegKind { Colour, Grey, Cmyk };
void writeJpeg(const std::string& path, const Picture& picture, JpegKind kind = JpegKind::Colour);

// A well-formed PNG header claiming width x height, followed by a few bytes of pixel data and the
// end chunk: what a hostile or damaged file looks like to a decoder.
void writePngClaimingSize(const std::string& path, std::uint32_t width, std::uint32_t height);

// Reads any PNG as RGBA; fails the test (and returns an empty picture) if it cannot.
Picture readPng(const std::string& path);

// Keeps only the first `fraction` of a file's bytes.
void truncateFile(const std::string& path, double fraction);

// The largest difference of any channel.
int colourDistance(Rgba a, Rgba b);

}  // namespace demo_test
