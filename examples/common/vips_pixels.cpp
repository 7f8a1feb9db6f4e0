#include "vips_pixels.h"

#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "program.h"
#include "vips_session.h"

namespace zelvan_demo {

using vips::VImage;
using vips::VRegion;

namespace {

// Four pixels at a time as 32-bit lanes (GCC's and Clang's vector types: SSE2 on any x86-64),
// red and blue exchanged by masks and shifts; about four times the speed of byte by byte.
using Lanes = std::uint32_t __attribute__((vector_size(16)));
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "red is the low byte of a pixel's word");

void swapRedBlue(const std::uint8_t* from, std::uint8_t* to, std::uint32_t width) {
    std::uint32_t x = 0;
    for (; x + 4 <= width; x += 4, from += 16, to += 16) {
        Lanes pixels;
        std::memcpy(&pixels, from, 16);
        pixels = (pixels & 0xFF00FF00u) | (pixels >> 16 & 0xFFu) | (pixels & 0xFFu) << 16;
        std::memcpy(to, &pixels, 16);
    }
    for (; x < width; ++x, from += 4, to += 4) {
        to[0] = from[2], to[1] = from[1], to[2] = from[0], to[3] = from[3];
    }
}

void addAlphaPortable(const std::uint8_t* from, std::uint8_t* to, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x, from += 3, to += 4)
        to[0] = from[2], to[1] = from[1], to[2] = from[0], to[3] = 255;
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels a shuffle; SSSE3 is on nearly every x86 processor of the last fifteen years, but not in
// the baseline the programs are built for.
__attribute__((target("ssse3"))) void addAlphaSsse3(const std::uint8_t* from, std::uint8_t* to,
                                                    std::uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    std::uint32_t x = 0;
    for (; x + 6 <= width; x += 4, from += 12, to += 16) {  // each load reads 16 of the 18 bytes left
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                         _mm_or_si128(_mm_shuffle_epi8(pixels, order), opaque));
    }
    addAlphaPortable(from, to, width - x);
}
#endif

// Red-green-blue into blue-green-red-alpha, opaque.
void addAlpha(const std::uint8_t* from, std::uint8_t* to, std::uint32_t width) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) return addAlphaSsse3(from, to, width);
#endif
    addAlphaPortable(from, to, width);
}

// Rows of red-green-blue(-alpha) from a prepared region into blue-green-red-alpha at dst.
void copyRows(const VRegion& region, int left, int top, std::uint32_t width, std::uint32_t rows,
              std::uint8_t* dst, std::size_t pitch) {
    const bool alpha = vips_image_get_bands(region.get_region()->im) == 4;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const auto* from = region.addr(left, top + int(r));
        alpha ? swapRedBlue(from, dst + r * pitch, width) : addAlpha(from, dst + r * pitch, width);
    }
}

class VipsBands final : public BandSource {
    static constexpr std::uint32_t kSliceRows = 16;

public:
    VipsBands(VImage image, std::string name) : image_(std::move(image)), name_(std::move(name)) {}

    std::uint32_t width() const override { return std::uint32_t(image_.width()); }
    std::uint32_t height() const override { return std::uint32_t(image_.height()); }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height() - next_);
        // In slices of a few rows: the pipeline's buffers stay small, in cache and reused, where a
        // whole band would have every operation allocate (and libvips zero) tens of megabytes.
        for (std::uint32_t done = 0; done < rows;) {
            const std::uint32_t slice = std::min(rows - done, kSliceRows);
            try {
                // Made by the thread that reads, the only one libvips lets use it.
                if (!region_) region_ = std::make_unique<VRegion>(VRegion::new_from_image(image_));
                region_->prepare(0, int(next_), image_.width(), int(slice));
            } catch (const vips::VError& error) {
                failWithVips(name_, error);
            }
            checkVipsWarnings(name_);
            copyRows(*region_, 0, int(next_), width(), slice, dst + done * pitch, pitch);
            next_ += slice;
            done += slice;
        }
        return rows;
    }

private:
    VImage image_;
    std::unique_ptr<VRegion> region_;
    std::string name_;
    std::uint32_t next_ = 0;
};

class VipsTiles final : public PictureTiles {
    // Failed rectangles remembered per level at most: past that many the picture is ruined anyway,
    // and the list must not grow without bound or slow every read.
    static constexpr std::size_t kMaxFailures = 1024;

public:
    explicit VipsTiles(std::vector<VImage> images) {
        for (VImage& image : images) levels_.push_back(std::make_unique<Level>(std::move(image)));
    }

    std::size_t levelCount() const override { return levels_.size(); }
    zelvan::TileSize levelSize(std::size_t level) const override {
        const VImage& image = levels_.at(level)->image;
        return {std::uint32_t(image.width()), std::uint32_t(image.height())};
    }

    // Never throws: whatever goes wrong, even running out of memory for the reason, is a false.
    bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        std::string reason;
        try {
            if (readOrThrow(level, x, y, width, height, pixels, pitch, reason)) return true;
        } catch (const vips::VError& error) {
            reason = error.what() + std::string("; ") + takeVipsReason();
        } catch (const std::exception& error) {
            reason = error.what();
        } catch (...) {
        }
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_.swap(reason);
        return false;
    }

    std::string lastError() const override {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_;
    }

private:
    bool readOrThrow(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                     std::uint32_t height, unsigned char* pixels, std::size_t pitch, std::string& reason) {
        if (level >= levels_.size()) return reason = "no level " + std::to_string(level), false;
        Level& source = *levels_[level];
        const auto right = std::uint64_t{x} + width, bottom = std::uint64_t{y} + height;
        if (right > std::uint64_t(source.image.width()) || bottom > std::uint64_t(source.image.height()))
            return reason = "a tile past the picture's edge", false;
        const Rect rect{x, y, width, height};
        if (source.failedBefore(rect, reason)) return false;
        // A region of its own: regions serve only the thread that made them, and their buffers
        // (one per stage of the pipeline) are better given back than kept for every level.
        const VRegion region = VRegion::new_from_image(source.image);
        try {
            region.prepare(int(x), int(y), int(width), int(height));
        } catch (const vips::VError& error) {
            reason = error.what() + std::string("; ") + takeVipsReason();
        }
        if (!reason.empty() || takeVipsWarning(reason)) return source.remember(rect, reason), false;
        copyRows(region, int(x), int(y), width, height, pixels, pitch);
        // The loaders of tiled files cache two rows of decoded tiles: hundreds of megabytes across a
        // wide pyramid's levels, and of no use here, where every tile is read once and kept as a
        // texture. Minimising drops them (those another read is using stay).
        vips_image_minimise_all(source.image.get_image());
        return true;
    }

    struct Rect {
        std::uint32_t x, y, width, height;
        bool meets(const Rect& o) const {
            return std::uint64_t{x} < std::uint64_t{o.x} + o.width &&
                   std::uint64_t{o.x} < std::uint64_t{x} + width &&
                   std::uint64_t{y} < std::uint64_t{o.y} + o.height &&
                   std::uint64_t{o.y} < std::uint64_t{y} + height;
        }
    };

    // A level's image and what failed to decode in it.
    struct Level {
        explicit Level(VImage i) : image(std::move(i)) {}
        VImage image;
        std::mutex mutex;
        // Rectangles whose decoding failed, with the reason. libvips keeps a tile it could not decode
        // as black and hands it back without a word the next time: a read that touches one fails.
        std::vector<std::pair<Rect, std::string>> failures;

        bool failedBefore(const Rect& rect, std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            for (const auto& [failed, why] : failures)
                if (failed.meets(rect)) return reason = why, true;
            return false;
        }

        void remember(const Rect& rect, const std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            if (failures.size() < kMaxFailures) failures.emplace_back(rect, reason);
        }
    };

    std::vector<std::unique_ptr<Level>> levels_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<BandSource> openVipsBands(VImage image, const std::string& name) {
    return std::make_unique<VipsBands>(std::move(image), name);
}

std::unique_ptr<PictureTiles> openVipsTiles(std::vector<VImage> levels) {
    return std::make_unique<VipsTiles>(std::move(levels));
}

}  // namespace zelvan_demo
