#include "vips_tiles.h"

#include <algorithm>
#include <mutex>

#include "disk/levels/vips_halving.h"
#include "disk/levels/vips_sample_halving.h"
#include "vips/pixel_rows.h"
#include "vips/vips_session.h"
#include "vips_samples.h"

namespace zelvan {
namespace sources {
namespace detail {

using vips::VImage;
using vips::VRegion;

namespace {

// Failed rectangles remembered per level at most: past that many the picture is ruined anyway, and
// the list must not grow without bound or slow every read.
constexpr std::size_t kMaxFailures = 1024;
// What a slice of a computed level may pull from the file's level above it, in bytes.
constexpr std::uint64_t kSliceFootprint = std::uint64_t{4} << 20;

struct Rect {
    std::uint32_t x, y, width, height;
    bool meets(const Rect& o) const {
        return std::uint64_t{x} < std::uint64_t{o.x} + o.width &&
               std::uint64_t{o.x} < std::uint64_t{x} + width &&
               std::uint64_t{y} < std::uint64_t{o.y} + o.height &&
               std::uint64_t{o.y} < std::uint64_t{y} + height;
    }
};

// A level's image, opened at its first read, and what failed to decode in it.
struct Level {
    Level(TileLevel l, Level* f, unsigned d, std::size_t bytes)
        : size(l.size), open(std::move(l.open)), finer(f), depth(d), pixelBytes(bytes) {}
    TileSize size;
    std::function<VImage()> open;  // empty: halved from `finer`
    Level* finer;
    unsigned depth;          // computed levels between this one and the file's level it is halved from
    std::size_t pixelBytes;  // of raw samples; 0 for colours
    std::once_flag openedOnce;
    VImage image;
    std::mutex mutex;
    // Rectangles whose decoding failed, with the reason. libvips keeps a tile it could not decode as
    // black and hands it back without a word the next time: a read that touches one fails.
    std::vector<std::pair<Rect, std::string>> failures;

    // Throws vips::VError when the level cannot be opened (and tries again at the next read).
    const VImage& opened() {
        std::call_once(openedOnce, [this] {
            if (open)
                image = open();
            else
                image = raw() ? halvedSamples(finer->opened()) : halved(finer->opened());
        });
        return image;
    }

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

    bool raw() const { return pixelBytes != 0; }

    // Rows read at once: all of them for the file's levels; for a computed one, as many as keep what
    // they pull from the file's level (2^depth times as wide and high) within kSliceFootprint.
    std::uint32_t sliceRows(std::uint32_t width, std::uint32_t height) const {
        if (depth == 0) return height;
        const std::uint64_t pulled = std::uint64_t{width} * (raw() ? pixelBytes : 4)
                                     << (2 * std::min(depth, 24u));
        return std::uint32_t(std::clamp<std::uint64_t>(kSliceFootprint / pulled, 1, height));
    }
};

class VipsTiles final : public PictureSource {
public:
    VipsTiles(std::vector<TileLevel> levels, PictureInfo info, Warnings warnings, SampleLayout layout,
              DisplayMapping mapping)
        : info_(std::move(info)),
          warnings_(std::move(warnings)),
          layout_(layout),
          mapping_(std::move(mapping)) {
        const std::size_t rawBytes = layout.type == SampleType::Bgra8 ? 0 : pixelBytes(layout);
        unsigned depth = 0;
        info_.levels.clear();
        for (TileLevel& level : levels) {
            Level* finer = levels_.empty() ? nullptr : levels_.back().get();
            depth = level.open || !finer ? 0 : depth + 1;
            info_.levels.push_back(level.size);
            levels_.push_back(std::make_unique<Level>(std::move(level), finer, depth, rawBytes));
        }
    }

    const PictureInfo& info() const override { return info_; }
    std::size_t levelCount() const override { return levels_.size(); }
    TileSize levelSize(std::size_t level) const override { return levels_.at(level)->size; }
    SampleLayout sampleLayout() const override { return layout_; }
    DisplayMapping displayMapping() const override {
        return mapping_.channels.empty() ? defaultMapping(layout_) : mapping_;
    }

    bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        return readAny(false, level, x, y, width, height, pixels, pitch);
    }

    bool readSamples(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                     std::uint32_t height, void* samples, std::size_t pitch, TileReadControl&) override {
        return readAny(true, level, x, y, width, height, static_cast<unsigned char*>(samples), pitch);
    }

    std::string lastError() const override {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_;
    }

private:
    // Never throws: whatever goes wrong, even running out of memory for the reason, is a false.
    bool readAny(bool samples, std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                 std::uint32_t height, unsigned char* pixels, std::size_t pitch) {
        std::string reason;
        try {
            if (samples != (layout_.type != SampleType::Bgra8))
                reason = samples ? "the picture has colours: read them with read()"
                                 : "the picture has raw samples: read them with readSamples()";
            else if (readOrFail(level, x, y, width, height, pixels, pitch, reason))
                return true;
        } catch (const std::exception& error) {
            reason = error.what();
        } catch (...) {
        }
        try {
            std::lock_guard<std::mutex> lock(errorMutex_);
            lastError_ = reason.empty() ? std::string("the tile cannot be read") : reason;
        } catch (...) {
        }
        return false;
    }

    bool readOrFail(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                    std::uint32_t height, unsigned char* pixels, std::size_t pitch, std::string& reason) {
        if (level >= levels_.size()) return reason = "no level " + std::to_string(level), false;
        Level& source = *levels_[level];
        const auto right = std::uint64_t{x} + width, bottom = std::uint64_t{y} + height;
        if (right > source.size.width || bottom > source.size.height)
            return reason = "a tile past the picture's edge", false;
        const Rect rect{x, y, width, height};
        if (source.failedBefore(rect, reason)) return false;
        // A loader without random access decodes the whole picture at the first read, on libvips'
        // workers: what they log (a PNG or JPEG cut short) is this picture's.
        WarningCollector collected(true);
        VImage image;
        try {
            image = source.opened();
        } catch (const vips::VError& error) {
            return reason = vipsReason(error, collected.take()), false;
        }
        if (right > std::uint64_t(image.width()) || bottom > std::uint64_t(image.height()))
            return reason = "level " + std::to_string(level) + " is smaller than its file said", false;
        {
            // A region of its own: regions serve only the thread that made them, and their buffers
            // (one per stage of the pipeline) are better given back than kept for every level.
            const VRegion region = VRegion::new_from_image(image);
            const std::uint32_t slice = source.sliceRows(width, height);
            for (std::uint32_t done = 0; done < height; done += slice) {
                const std::uint32_t rows = std::min(slice, height - done);
                try {
                    region.prepare(int(x), int(y + done), int(width), int(rows));
                } catch (const vips::VError& error) {
                    reason = vipsReason(error, collected.take());
                    source.remember(rect, reason);
                    return false;
                }
                if (source.raw())
                    copySampleRows(region, int(x), int(y + done), width, rows, source.pixelBytes,
                                   pixels + done * pitch, pitch);
                else
                    copyRows(region, int(x), int(y + done), width, rows, pixels + done * pitch, pitch);
            }
        }
        // The loaders of tiled files cache two rows of decoded tiles: hundreds of megabytes across a
        // wide pyramid's levels, and of no use here, where every tile is read once and kept as a
        // texture. Minimising drops them (those another read is using stay).
        vips_image_minimise_all(image.get_image());
        warnings_->tell(withDecoderNotes(collected.take()));
        return true;
    }

    PictureInfo info_;
    Warnings warnings_;
    SampleLayout layout_;
    DisplayMapping mapping_;
    std::vector<std::unique_ptr<Level>> levels_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<PictureSource> openVipsTiles(std::vector<TileLevel> levels, PictureInfo info,
                                             Warnings warnings, SampleLayout layout, DisplayMapping mapping) {
    return std::make_unique<VipsTiles>(std::move(levels), std::move(info), std::move(warnings), layout,
                                       std::move(mapping));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
