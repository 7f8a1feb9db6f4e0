#pragma once
// A zelvan::TileSource of typed samples computed from their coordinates, nothing stored: any sample
// layout, any size, levels halving (rounded up) down to 1 x 1, counting its reads. For the tile view's
// mapping tests, the benchmarks and the fuzzers.
//
// Samples: integers run along x and y in a 12-bit range, as a camera's would (value()); floats are
// waves of amplitude 100, with NaN, +inf and -inf sprinkled when asked. Levels are unrelated pictures.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "zelvan_tiles.hpp"

namespace zelvan_test {

class TypedTiles final : public zelvan::TileSource {
public:
    TypedTiles(std::uint32_t width, std::uint32_t height, const zelvan::SampleLayout& layout,
               bool nonFinite = false)
        : width_(width), height_(height), layout_(layout), nonFinite_(nonFinite) {
        const std::uint32_t longer = std::max(width, height);  // a side of 0 still has its levels
        levels_ = zelvan::levelCount(longer, longer);
    }

    std::size_t levelCount() const override { return levels_; }
    zelvan::TileSize levelSize(std::size_t level) const override {
        const auto halved = [level](std::uint32_t side) {
            return static_cast<std::uint32_t>(((std::uint64_t{side} - 1) >> level) + 1);
        };
        return level < levels_ ? zelvan::TileSize{halved(width_), halved(height_)} : zelvan::TileSize{};
    }
    zelvan::SampleLayout sampleLayout() const override { return layout_; }

    bool readSamples(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                     std::uint32_t height, void* samples, std::size_t pitch,
                     zelvan::TileReadControl&) override {
        ++reads_;
        const std::size_t size = zelvan::sampleBytes(layout_.type);
        for (std::uint32_t r = 0; r < height; ++r) {
            auto* out = static_cast<unsigned char*>(samples) + r * pitch;
            for (std::uint32_t c = 0; c < width; ++c)
                for (unsigned k = 0; k < layout_.channels; ++k, out += size)
                    store(value(level, x + c, y + r, k), out);
        }
        return true;
    }

    // Sample `channel` of pixel (x, y) of `level`, as read.
    double value(std::size_t level, std::uint32_t x, std::uint32_t y, unsigned channel) const {
        if (layout_.type == zelvan::SampleType::Float32) {
            if (nonFinite_ && x % 97 == 5) return std::numeric_limits<double>::quiet_NaN();
            if (nonFinite_ && y % 89 == 7) return (x & 1) != 0 ? HUGE_VAL : -HUGE_VAL;
            return static_cast<float>(100 * std::sin(x * 0.01 + channel) *
                                      std::cos(y * 0.013 + double(level)));
        }
        const std::uint32_t v =
            (x * 5 + y * 3 + channel * 1000 + static_cast<std::uint32_t>(level) * 77) & 0xFFF;
        if (layout_.type == zelvan::SampleType::UInt8) return v & 0xFF;
        return layout_.type == zelvan::SampleType::Int16 ? double(v) - 2048 : double(v);
    }

    std::uint64_t reads() const { return reads_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

private:
    void store(double v, unsigned char* out) const {
        switch (layout_.type) {
            case zelvan::SampleType::UInt16: {
                const auto s = static_cast<std::uint16_t>(v);
                std::memcpy(out, &s, 2);
                break;
            }
            case zelvan::SampleType::Int16: {
                const auto s = static_cast<std::int16_t>(v);
                std::memcpy(out, &s, 2);
                break;
            }
            case zelvan::SampleType::Float32: {
                const auto s = static_cast<float>(v);
                std::memcpy(out, &s, 4);
                break;
            }
            default:
                *out = static_cast<unsigned char>(v);
        }
    }

    const std::uint32_t width_, height_;
    const zelvan::SampleLayout layout_;
    const bool nonFinite_;
    std::size_t levels_ = 1;
    std::atomic<std::uint64_t> reads_{0};
};

}  // namespace zelvan_test
