#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "scene.h"
#include "zelvan.hpp"

namespace zelvan_demo {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxIterations = 256;

void putPixel(std::uint8_t* p, double r, double g, double b) {
    p[0] = std::uint8_t(std::clamp(b, 0.0, 1.0) * 255.0 + 0.5);
    p[1] = std::uint8_t(std::clamp(g, 0.0, 1.0) * 255.0 + 0.5);
    p[2] = std::uint8_t(std::clamp(r, 0.0, 1.0) * 255.0 + 0.5);
    p[3] = 255;
}

// Smoothed escape count of c = (cx, cy), or -1 inside the set.
double escapeTime(double cx, double cy) {
    // The main cardioid and the period-2 bulb never escape; skipping them saves most of the work.
    const double q = (cx - 0.25) * (cx - 0.25) + cy * cy;
    if (q * (q + (cx - 0.25)) <= 0.25 * cy * cy || (cx + 1) * (cx + 1) + cy * cy <= 1.0 / 16) return -1;
    double x = 0, y = 0;
    for (int n = 0; n < kMaxIterations; ++n) {
        const double xx = x * x, yy = y * y;
        if (xx + yy > 256.0) return n + 1 - std::log2(std::log2(xx + yy) / 2);
        y = 2 * x * y + cy;
        x = xx - yy + cx;
    }
    return -1;
}

void fractalRows(BgraImage& image, std::uint32_t first, std::uint32_t step, const ProgressFn* rowsDone) {
    // The view -2.6 .. 1.3 across, centred on the imaginary axis, keeping pixels square.
    const double left = -2.6, pixel = 3.9 / image.width, top = pixel * image.height / 2;
    for (std::uint32_t y = first; y < image.height; y += step) {
        std::uint8_t* p = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x, p += 4) {
            const double t = escapeTime(left + x * pixel, top - y * pixel);
            if (t < 0) {
                putPixel(p, 0.02, 0.02, 0.06);
                continue;
            }
            // A cosine palette cycling through deep blue, gold and white.
            const double s = std::log(t + 1) * 0.9;
            putPixel(p, 0.5 + 0.5 * std::cos(2 * kPi * (s + 0.00)),
                     0.5 + 0.5 * std::cos(2 * kPi * (s + 0.10)), 0.5 + 0.5 * std::cos(2 * kPi * (s + 0.20)));
        }
        if (rowsDone != nullptr && *rowsDone) (*rowsDone)(y + 1, image.height);
    }
}

// Darkens every other block of the grid the library lays out for an image of this size.
void shadeAlternateBlocks(BgraImage& image) {
    const zelvan::Image layout(image.width, image.height);  // lays out, uploads nothing
    const ZelvanHandle probe = layout.handle();
    for (std::uint32_t row = 0; row < ZelvanGetVBlocks(probe); ++row)
        for (std::uint32_t col = (row + 1) % 2; col < ZelvanGetHBlocks(probe); col += 2) {
            std::uint32_t x0 = 0, y0 = 0, w = 0, h = 0;
            ZelvanGetBlockDem(probe, row, col, &x0, &y0, &w, &h);
            for (std::uint32_t y = y0; y < y0 + h; ++y) {
                std::uint8_t* p = image.row(y) + std::size_t{x0} * 4;
                for (std::uint32_t i = 0; i < w * 4; ++i)
                    if (i % 4 != 3) p[i] = std::uint8_t(p[i] * 13 / 16);
            }
        }
}

}  // namespace

BgraImage makeFractalImage(std::uint32_t width, std::uint32_t height, const ProgressFn& rowsDone) {
    BgraImage image = allocateImage(width, height, "the built-in fractal");
    // Rows interleaved over the cores; only the first worker reports, as a fair sample.
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i)
        threads.emplace_back(fractalRows, std::ref(image), i, workers, nullptr);
    fractalRows(image, 0, workers, &rowsDone);
    for (std::thread& thread : threads) thread.join();
    shadeAlternateBlocks(image);
    return image;
}

BgraImage makeOverlayImage(std::uint32_t width, std::uint32_t height) {
    BgraImage image = allocateImage(width, height, "the built-in overlay");
    const double border = std::min(width, height) / 40.0;
    const double cx = width / 2.0, cy = height / 2.0, radius = std::hypot(cx, cy);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* p = image.row(y);
        for (std::uint32_t x = 0; x < width; ++x, p += 4) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            if (std::min({x + 0.5, width - x - 0.5, y + 0.5, height - y - 0.5}) < border) {
                putPixel(p, 1, 1, 1);
                continue;
            }
            const double hue = std::atan2(dy, dx) / (2 * kPi);
            const double ring = 0.6 + 0.4 * std::cos(std::hypot(dx, dy) / radius * 24 * kPi);
            putPixel(p, ring * (0.5 + 0.5 * std::cos(2 * kPi * hue)),
                     ring * (0.5 + 0.5 * std::cos(2 * kPi * (hue - 1.0 / 3))),
                     ring * (0.5 + 0.5 * std::cos(2 * kPi * (hue + 1.0 / 3))));
        }
    }
    return image;
}

}  // namespace zelvan_demo
