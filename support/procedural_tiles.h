#pragma once
// A zelvan::TileSource whose pixels are computed from their coordinates, nothing stored: any size up to
// 2^32 - 1 pixels a side, levels halving (rounded up) down to 1 x 1, an optional delay per read, failures
// injected on demand, and a record of every read. For the tile view's tests, benchmarks and fuzzers.
//
// Patterns:
// - Checker: squares of `cell` pixels in two colours. Level k's pixel is the linear-light mean of the
//   level-0 pixels it covers (the 2^k x 2^k square, clipped at the right and bottom edges), in closed
//   form, so every level is a faithful reduction of level 0. Where level k - 1 has an odd last column or
//   row this differs slightly from averaging level k - 1's 2 x 2 pixels, which weights unevenly there.
// - Lines: 1-pixel lines every `cell` pixels (x % cell == 0 or y % cell == 0) on a background; levels
//   as for Checker, so a line fades into a tint of the background instead of vanishing.
// - Coordinates: each level's pixel encodes its own (x, y) in that level: blue x & 255, green y & 255,
//   red (x >> 8 & 15) | (y >> 8 & 15) << 4. Levels are deliberately unrelated: for seam and placement
//   checks, where one wrong or shifted pixel must show.
// Every pixel is opaque. bumpGeneration() changes every pixel of every level (another palette, or the
// coordinates' bytes flipped), as an edited picture would, for invalidation tests. pixel() is the
// reference a test compares drawn or read pixels with.
//
// Threads: read() may run on several threads at once, alongside every other member function.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "zelvan_tiles.hpp"

namespace zelvan_support {

enum class TilePattern { Checker, Lines, Coordinates };

struct ProceduralTilesOptions {
    TilePattern pattern = TilePattern::Checker;
    std::uint32_t cell = 64;             // square side (Checker), line spacing (Lines); at least 1
    std::chrono::microseconds delay{0};  // each read sleeps this long first
    bool pixels = true;                  // false: reads leave the pixels alone (a harness that checks none)
    std::size_t logLimit = std::size_t{1} << 20;  // reads kept in readLog(), the latest ones
};

// A rectangle of one level's pixels.
struct TileRect {
    std::uint32_t x = 0, y = 0, width = std::numeric_limits<std::uint32_t>::max(),
                  height = std::numeric_limits<std::uint32_t>::max();
    bool overlaps(std::uint32_t ox, std::uint32_t oy, std::uint32_t ow, std::uint32_t oh) const noexcept {
        return std::uint64_t{ox} < std::uint64_t{x} + width && std::uint64_t{x} < std::uint64_t{ox} + ow &&
               std::uint64_t{oy} < std::uint64_t{y} + height && std::uint64_t{y} < std::uint64_t{oy} + oh;
    }
};

// Which reads fail. A read fails when any rule says so; the default fails none.
struct TileFailures {
    std::uint64_t readNumber = 0;  // the read with this number (counting every read from 1) fails; 0: none
    std::size_t level = std::numeric_limits<std::size_t>::max();  // reads of this level overlapping
    TileRect region;                                              // region (in its pixels) fail, every time
    double fraction = 0;     // this share of rectangles fail, every time they are read; chosen by a hash of
    std::uint64_t seed = 0;  // the rectangle and seed, so the same inputs fail the same reads
};

struct TileRead {
    std::size_t level = 0;
    std::uint32_t x = 0, y = 0, width = 0, height = 0;
    std::uint64_t generation = 0;  // the pixels' generation, for a read that succeeded
    bool ok = false;               // false: failed on purpose, or asked for pixels outside the level
};

class ProceduralTiles final : public zelvan::TileSource {
public:
    ProceduralTiles(std::uint32_t width, std::uint32_t height, const ProceduralTilesOptions& options = {})
        : width_(width), height_(height), options_(options) {
        options_.cell = std::max<std::uint32_t>(options_.cell, 1);
        const std::uint32_t longer = std::max(width, height);  // a side of 0 still has its levels
        levels_ = zelvan::levelCount(longer, longer);
    }

    // ---- zelvan::TileSource ----
    std::size_t levelCount() const override { return levels_; }
    zelvan::TileSize levelSize(std::size_t level) const override {
        if (level >= levels_) return {};
        return {halved(width_, level), halved(height_, level)};
    }

    bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        const zelvan::TileSize size = levelSize(level);
        const bool inside = pixels != nullptr && width > 0 && height > 0 && level < levels_ &&
                            std::uint64_t{x} + width <= size.width &&
                            std::uint64_t{y} + height <= size.height && pitch >= std::size_t{width} * 4;
        std::uint64_t generation = 0;
        std::chrono::microseconds delay{0};
        bool ok = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const std::uint64_t number = ++reads_;
            generation = generation_;
            delay = options_.delay;
            ok = inside && !fails(number, level, x, y, width, height);
            if (!inside) ++badRequests_;
            if (inside && !ok) ++failed_;
            if (log_.size() >= options_.logLimit)
                log_.erase(log_.begin(), log_.begin() + log_.size() / 2 + 1);
            if (options_.logLimit > 0) log_.push_back({level, x, y, width, height, ok ? generation : 0, ok});
            ++inProgress_;
        }
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        if (ok && options_.pixels) fill(level, x, y, width, height, generation, pixels, pitch);
        std::lock_guard<std::mutex> lock(mutex_);
        --inProgress_;
        return ok;
    }

    // ---- the reference ----
    // Pixel (x, y) of `level` at the current generation, blue-green-red-alpha, as read() gives it.
    void pixel(std::size_t level, std::uint32_t x, std::uint32_t y, unsigned char out[4]) const {
        fill(level, x, y, 1, 1, generation(), out, 4);
    }
    std::uint32_t width() const noexcept { return width_; }
    std::uint32_t height() const noexcept { return height_; }

    // ---- control ----
    void setFailures(const TileFailures& failures) {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_ = failures;
    }
    void setDelay(std::chrono::microseconds delay) {
        std::lock_guard<std::mutex> lock(mutex_);
        options_.delay = delay;
    }
    // Every pixel changes; reads from now on return the new ones.
    void bumpGeneration() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
    }
    std::uint64_t generation() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return generation_;
    }

    // ---- counters ----
    // Every call of read(); those failed on purpose; those asking for pixels outside the level, into a
    // null buffer or with a short pitch; those called and not yet returned.
    std::uint64_t reads() const { return locked(reads_); }
    std::uint64_t failedReads() const { return locked(failed_); }
    std::uint64_t badRequests() const { return locked(badRequests_); }
    std::size_t readsInProgress() const { return locked(inProgress_); }
    std::vector<TileRead> readLog() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    void clearLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
    }

private:
    // A side at level k: halved k times, rounding up, which is ceil(side / 2^k).
    static std::uint32_t halved(std::uint32_t side, std::size_t level) {
        if (side == 0) return 0;
        return level >= 32 ? 1 : static_cast<std::uint32_t>(((std::uint64_t{side} - 1) >> level) + 1);
    }

    template <typename T>
    T locked(const T& value) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value;
    }

    static std::uint64_t mix(std::uint64_t h, std::uint64_t v) {  // splitmix64 step over h ^ v
        std::uint64_t z = (h ^ v) + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    bool fails(std::uint64_t number, std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t w,
               std::uint32_t h) const {
        const TileFailures& f = failures_;
        if (f.readNumber != 0 && number == f.readNumber) return true;
        if (level == f.level && f.region.overlaps(x, y, w, h)) return true;
        if (f.fraction <= 0) return false;
        std::uint64_t hash = mix(f.seed, level);
        for (std::uint64_t v : {x, y, w, h}) hash = mix(hash, v);
        return static_cast<double>(hash >> 11) * 0x1p-53 < f.fraction;
    }

    // Linear light (0 to 65535) of each sRGB byte, and back from 16-bit linear light.
    struct Srgb {
        double linear[256];
        unsigned char encoded[65536];
    };
    // Filled by a constructor, not a lambda initialiser, which the compiler tries to evaluate at compile
    // time (seconds in every file including this).
    struct BuiltSrgb : Srgb {
        BuiltSrgb() : Srgb{} {
            for (int v = 0; v < 256; ++v) {
                const double c = v / 255.0;
                linear[v] = 65535 * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
            }
            for (int l = 0; l < 65536; ++l) {
                const double c = l / 65535.0;
                const double e = c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
                encoded[l] = static_cast<unsigned char>(std::lround(e * 255));
            }
        }
    };
    static const Srgb& srgb() {
        static const BuiltSrgb tables;
        return tables;
    }

    // Of the level-0 positions [first, end) along one axis: for Checker the mean of +1 (even squares)
    // and -1 (odd squares); for Lines the share of positions off the lines.
    double axisMean(std::uint64_t first, std::uint64_t end) const {
        const std::uint64_t cell = options_.cell;
        const double count = static_cast<double>(end - first);
        if (options_.pattern == TilePattern::Checker) {
            const auto sum = [cell](std::uint64_t n) {  // sum over [0, n)
                const std::uint64_t q = n / cell, r = n % cell;
                return (q & 1) != 0 ? static_cast<double>(cell - r) : static_cast<double>(r);
            };
            return (sum(end) - sum(first)) / count;
        }
        const auto onLines = [cell](std::uint64_t n) {
            return (n + cell - 1) / cell;
        };  // multiples in [0, n)
        return 1 - static_cast<double>(onLines(end) - onLines(first)) / count;
    }

    // The level-0 span of position p of a level-k axis `side` pixels long at level 0.
    static void span(std::uint64_t p, std::size_t level, std::uint32_t side, std::uint64_t& first,
                     std::uint64_t& end) {
        const unsigned shift = static_cast<unsigned>(std::min<std::size_t>(level, 32));
        first = p << shift;
        end = std::min<std::uint64_t>((p + 1) << shift, side);
    }

    void fill(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              std::uint64_t generation, unsigned char* pixels, std::size_t pitch) const {
        if (options_.pattern == TilePattern::Coordinates) {
            const auto flip = static_cast<unsigned char>((generation * 0x5B) & 0xFF);
            for (std::uint32_t r = 0; r < height; ++r) {
                unsigned char* out = pixels + r * pitch;
                const std::uint32_t py = y + r;
                for (std::uint32_t c = 0; c < width; ++c, out += 4) {
                    const std::uint32_t px = x + c;
                    out[0] = static_cast<unsigned char>((px & 255) ^ flip);
                    out[1] = static_cast<unsigned char>((py & 255) ^ flip);
                    out[2] = static_cast<unsigned char>(((px >> 8 & 15) | (py >> 8 & 15) << 4) ^ flip);
                    out[3] = 255;
                }
            }
            return;
        }
        // Two colours, blue-green-red; a new pair for each generation.
        static const unsigned char palette[4][2][3] = {{{0xE0, 0x80, 0x20}, {0x10, 0xE0, 0xF0}},
                                                       {{0x30, 0x30, 0xC0}, {0xF0, 0xF0, 0xF0}},
                                                       {{0x00, 0x00, 0x00}, {0x60, 0xD0, 0x90}},
                                                       {{0xC0, 0x40, 0x90}, {0x20, 0x60, 0x10}}};
        const unsigned char(&colours)[2][3] = palette[generation % 4];
        const Srgb& t = srgb();
        std::vector<double> columns(width);
        for (std::uint32_t c = 0; c < width; ++c) {
            std::uint64_t first = 0, end = 0;
            span(std::uint64_t{x} + c, level, width_, first, end);
            columns[c] = axisMean(first, end);
        }
        for (std::uint32_t r = 0; r < height; ++r) {
            std::uint64_t first = 0, end = 0;
            span(std::uint64_t{y} + r, level, height_, first, end);
            const double row = axisMean(first, end);
            unsigned char* out = pixels + r * pitch;
            for (std::uint32_t c = 0; c < width; ++c, out += 4) {
                // The share of the first colour: checker squares are where both axes agree; line pixels
                // are all but those off the lines in both directions.
                const double share = options_.pattern == TilePattern::Checker ? (1 + columns[c] * row) / 2
                                                                              : 1 - columns[c] * row;
                for (int i = 0; i < 3; ++i) {
                    if (share >= 1 || share <= 0) {
                        out[i] = colours[share >= 1 ? 0 : 1][i];
                        continue;
                    }
                    const double linear =
                        share * t.linear[colours[0][i]] + (1 - share) * t.linear[colours[1][i]];
                    out[i] = t.encoded[static_cast<std::uint32_t>(linear + 0.5)];
                }
                out[3] = 255;
            }
        }
    }

    const std::uint32_t width_, height_;
    std::size_t levels_ = 1;
    ProceduralTilesOptions options_;
    mutable std::mutex mutex_;
    TileFailures failures_;
    std::uint64_t generation_ = 0, reads_ = 0, failed_ = 0, badRequests_ = 0;
    std::size_t inProgress_ = 0;
    std::vector<TileRead> log_;
};

}  // namespace zelvan_support
