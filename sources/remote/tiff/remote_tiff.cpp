// Each level keeps the readers not lent out, as many as it has had reads at once (up to a bound). A read
// that failed or was cancelled drops its reader: libvips gives up on an image for good when the first
// load of its pixels fails.
#include "remote_tiff.h"

#include <mutex>
#include <vector>

#include "range_blocks.h"
#include "tiff_reader.h"
#include "vips/vips_pixels.h"
#include "vips/vips_warnings.h"
#include "zelvan_levels.hpp"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

class RemoteTiff final : public PictureSource {
public:
    RemoteTiff(std::shared_ptr<RangeBlocks> blocks, std::shared_ptr<RemoteRequests> requests,
               Warnings warnings)
        : blocks_(std::move(blocks)), requests_(std::move(requests)), warnings_(std::move(warnings)) {}

    bool open(std::string& error) {
        if (!vipsStarted()) {
            error = "libvips cannot be started";
            return false;
        }
        WarningCollector collected;  // the directories are read on this thread
        if (!add(TiffPage{"page", 0}, error)) return false;
        VipsImage* first = levels_[0].idle[0]->image();
        const int pages = vips_image_get_n_pages(first);
        int subifds = 0;
        if (pages <= 1 && vips_image_get_typeof(first, "n-subifds"))
            vips_image_get_int(first, "n-subifds", &subifds);
        // The finer levels' pages (or sub-IFDs) while each is half the one before.
        const int more = pages > 1 ? pages - 1 : subifds;
        for (int i = 0; i < more && levels_.size() < zelvan::kMaxLevels; ++i) {
            const TileSize finer = levels_.back().size;
            std::string ignored;
            if (!add(pages > 1 ? TiffPage{"page", i + 1} : TiffPage{"subifd", i}, ignored)) break;
            const TileSize next = levels_.back().size;
            if (!zelvan::isHalving(finer.width, next.width) ||
                !zelvan::isHalving(finer.height, next.height)) {
                levels_.pop_back();
                break;
            }
        }
        info_.width = levels_[0].size.width;
        info_.height = levels_[0].size.height;
        info_.bands = static_cast<unsigned>(first->Bands);
        info_.format = "tiff";
        info_.remote = true;
        for (const Level& l : levels_) info_.levels.push_back(l.size);
        warnings_->tell(collected.take());
        return true;
    }

    std::size_t levelCount() const override { return levels_.size(); }
    TileSize levelSize(std::size_t level) const override { return levels_[level].size; }
    const PictureInfo& info() const override { return info_; }
    std::string lastError() const override {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_.empty() ? blocks_->lastError() : lastError_;
    }
    TransferStats transfers() const override { return requests_->stats(); }

    bool readTile(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* pixels, std::size_t pitch,
                  TileReadControl& control) override {
        if (level >= levels_.size()) return false;
        const TileSize size = levels_[level].size;
        if (width == 0 || height == 0 || x >= size.width || y >= size.height || width > size.width - x ||
            height > size.height - y)
            return false;
        std::string error;
        bool ok = false;
        WarningCollector collected;  // the pixels are decoded on this thread (vips_pixels.h)
        try {
            std::unique_ptr<TiffReader> reader = lend(level, control, error);
            if (reader) {
                ok = readWith(*reader, x, y, width, height, pixels, pitch, error);
                reader->serve(nullptr);
            }
            if (ok) giveBack(level, std::move(reader));
        } catch (...) {  // std::bad_alloc
            error = "out of memory";
            ok = false;
        }
        if (ok) warnings_->tell(collected.take());
        if (!ok && !control.cancelled()) {
            const std::string blocksError = blocks_->lastError();
            fail(blocksError.empty() ? error : blocksError);
        }
        return ok && !control.cancelled();
    }

private:
    static constexpr std::size_t kIdleReaders = 8;  // a level's, at most: a view reads with up to 8 threads

    struct Level {
        TiffPage page;
        TileSize size{};
        std::vector<std::unique_ptr<TiffReader>> idle;  // under poolMutex_
    };

    bool add(TiffPage page, std::string& error) {
        std::unique_ptr<TiffReader> reader = TiffReader::open(*blocks_, page, nullptr, error);
        if (!reader) return false;
        Level l;
        l.page = page;
        l.size = TileSize{static_cast<std::uint32_t>(reader->image()->Xsize),
                          static_cast<std::uint32_t>(reader->image()->Ysize)};
        l.idle.push_back(std::move(reader));
        levels_.push_back(std::move(l));
        return true;
    }

    // A reader of `level` for `control`'s read alone: one not lent out, or a new one.
    std::unique_ptr<TiffReader> lend(std::size_t level, TileReadControl& control, std::string& error) {
        std::unique_ptr<TiffReader> reader;
        {
            std::lock_guard<std::mutex> lock(poolMutex_);
            std::vector<std::unique_ptr<TiffReader>>& idle = levels_[level].idle;
            if (!idle.empty()) {
                reader = std::move(idle.back());
                idle.pop_back();
            }
        }
        if (reader) {
            reader->serve(&control);
            return reader;
        }
        return TiffReader::open(*blocks_, levels_[level].page, &control, error);
    }

    void giveBack(std::size_t level, std::unique_ptr<TiffReader> reader) {
        std::lock_guard<std::mutex> lock(poolMutex_);
        std::vector<std::unique_ptr<TiffReader>>& idle = levels_[level].idle;
        if (idle.size() < kIdleReaders) idle.push_back(std::move(reader));
    }

    bool readWith(TiffReader& reader, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* pixels, std::size_t pitch, std::string& error) {
        VipsImage* crop = nullptr;
        if (vips_crop(reader.image(), &crop, static_cast<int>(x), static_cast<int>(y),
                      static_cast<int>(width), static_cast<int>(height), nullptr) != 0) {
            error = vipsError();
            return false;
        }
        const bool ok = writeBgra(crop, pixels, pitch, error);
        g_object_unref(crop);
        return ok;
    }

    void fail(const std::string& why) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ = why;
    }

    std::shared_ptr<RangeBlocks> blocks_;
    std::shared_ptr<RemoteRequests> requests_;
    Warnings warnings_;
    std::vector<Level> levels_;
    std::mutex poolMutex_;
    PictureInfo info_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<PictureSource> openRemoteTiff(const std::string& url,
                                              std::shared_ptr<RemoteRequests> requests, Warnings warnings,
                                              std::string& error) {
    auto blocks = std::make_shared<RangeBlocks>(url, requests);
    if (!blocks->open(error)) return nullptr;
    std::unique_ptr<RemoteTiff> tiff(
        new RemoteTiff(std::move(blocks), std::move(requests), std::move(warnings)));
    if (!tiff->open(error)) return nullptr;
    return std::unique_ptr<PictureSource>(std::move(tiff));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
