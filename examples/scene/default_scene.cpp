#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "program.h"
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

// Rows of the fractal, `width` pixels across and `height` high, in a band: the band's row i is
// picture row firstRow + i, and this worker makes every step-th of them from `offset` on.
void fractalRows(std::uint32_t width, std::uint32_t height, std::uint32_t firstRow, std::uint8_t* band,
                 std::size_t pitch, std::uint32_t rows, std::uint32_t offset, std::uint32_t step) {
    // The view -2.6 .. 1.3 across, centred on the imaginary axis, keeping pixels square.
    const double left = -2.6, pixel = 3.9 / width, top = pixel * height / 2;
    for (std::uint32_t i = offset; i < rows; i += step) {
        std::uint8_t* p = band + i * pitch;
        const std::uint32_t y = firstRow + i;
        for (std::uint32_t x = 0; x < width; ++x, p += 4) {
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
    }
}

// Where the library's blocks start along one side of an image, and the end.
std::vector<std::uint32_t> blockStarts(const zelvan::Image& layout, bool columns) {
    std::vector<std::uint32_t> starts;
    const ZelvanHandle handle = layout.handle();
    const std::uint32_t count = columns ? ZelvanGetHBlocks(handle) : ZelvanGetVBlocks(handle);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t x = 0, y = 0;
        ZelvanGetBlockDem(handle, columns ? 0 : i, columns ? i : 0, &x, &y, nullptr, nullptr);
        starts.push_back(columns ? x : y);
    }
    starts.push_back(columns ? layout.width() : layout.height());
    return starts;
}

// The block of `starts` holding position v.
std::size_t blockOf(const std::vector<std::uint32_t>& starts, std::uint32_t v) {
    return std::size_t(std::upper_bound(starts.begin(), starts.end(), v) - starts.begin()) - 1;
}

// The fractal made band by band as it is read, its rows spread over the cores.
class FractalSource final : public BandSource {
public:
    FractalSource(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {
        const zelvan::Image layout(width, height);  // lays out, uploads nothing
        if (!layout) throw DemoError("the library cannot lay out the built-in fractal");
        columnStarts_ = blockStarts(layout, true);
        rowStarts_ = blockStarts(layout, false);
    }
    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height_ - next_);
        const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        std::vector<std::thread> threads;
        for (unsigned i = 1; i < workers; ++i)
            threads.emplace_back(fractalRows, width_, height_, next_, dst, pitch, rows, i, workers);
        fractalRows(width_, height_, next_, dst, pitch, rows, 0, workers);
        for (std::thread& thread : threads) thread.join();
        for (std::uint32_t i = 0; i < rows; ++i) shadeAlternateBlocks(dst + i * pitch, next_ + i);
        next_ += rows;
        return rows;
    }

private:
    // Darkens every other block of the library's grid in row y, so the blocks show.
    void shadeAlternateBlocks(std::uint8_t* row, std::uint32_t y) const {
        const std::size_t blockRow = blockOf(rowStarts_, y);
        for (std::size_t col = (blockRow + 1) % 2; col + 1 < columnStarts_.size(); col += 2)
            for (std::uint32_t x = columnStarts_[col]; x < columnStarts_[col + 1]; ++x)
                for (int c = 0; c < 3; ++c) row[x * 4 + c] = std::uint8_t(row[x * 4 + c] * 13 / 16);
    }

    std::uint32_t width_, height_, next_ = 0;
    std::vector<std::uint32_t> columnStarts_, rowStarts_;
};

// The overlay: a colour wheel in rings inside a white border, made row by row as it is read.
class OverlaySource final : public BandSource {
public:
    OverlaySource(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {}
    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height_ - next_);
        for (std::uint32_t i = 0; i < rows; ++i) overlayRow(dst + i * pitch, next_ + i);
        next_ += rows;
        return rows;
    }

private:
    void overlayRow(std::uint8_t* p, std::uint32_t y) const {
        const double border = std::min(width_, height_) / 40.0;
        const double cx = width_ / 2.0, cy = height_ / 2.0, radius = std::hypot(cx, cy);
        for (std::uint32_t x = 0; x < width_; ++x, p += 4) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            if (std::min({x + 0.5, width_ - x - 0.5, y + 0.5, height_ - y - 0.5}) < border) {
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

    std::uint32_t width_, height_, next_ = 0;
};

}  // namespace

std::unique_ptr<BandSource> fractalSource(std::uint32_t width, std::uint32_t height) {
    return std::make_unique<FractalSource>(width, height);
}

std::unique_ptr<BandSource> overlaySource(std::uint32_t width, std::uint32_t height) {
    return std::make_unique<OverlaySource>(width, height);
}

}  // namespace zelvan_demo
