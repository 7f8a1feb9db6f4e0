// Each level has a custom source of its own (its own read position) over the blocks all levels share.
// A cancelled read kills the libvips computation, which stops at its next region.
#include "remote_tiff.h"

#include <mutex>
#include <new>
#include <vector>

#include "range_blocks.h"
#include "vips_pixels.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// What a custom source's read and seek signals work on.
struct SourceState {
    RangeBlocks* blocks = nullptr;
    std::mutex mutex;
    std::uint64_t position = 0;
};

// Fills the whole of `buffer` where the file allows: libtiff takes a short read as an error.
gint64 readSignal(VipsSourceCustom*, void* buffer, gint64 length, SourceState* state) {
    std::lock_guard<std::mutex> lock(state->mutex);
    gint64 done = 0;
    while (done < length) {
        const std::int64_t n = state->blocks->read(state->position, static_cast<char*>(buffer) + done,
                                                   static_cast<std::uint64_t>(length - done));
        if (n < 0) return done > 0 ? done : -1;
        if (n == 0) break;
        state->position += static_cast<std::uint64_t>(n);
        done += n;
    }
    return done;
}

gint64 seekSignal(VipsSourceCustom*, gint64 offset, int whence, SourceState* state) {
    std::lock_guard<std::mutex> lock(state->mutex);
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? static_cast<std::int64_t>(state->position)
                              : whence == SEEK_END ? static_cast<std::int64_t>(state->blocks->length())
                                                   : -1;
    if (base < 0 || base + offset < 0) return -1;
    state->position = static_cast<std::uint64_t>(base + offset);
    return static_cast<gint64>(state->position);
}

bool halfOf(std::uint32_t side, std::uint32_t finer) { return side == finer / 2 || side == (finer + 1) / 2; }

class RemoteTiff final : public PictureSource {
public:
    RemoteTiff(std::shared_ptr<RangeBlocks> blocks, std::shared_ptr<TransferCounters> counters)
        : blocks_(std::move(blocks)), counters_(std::move(counters)) {}

    ~RemoteTiff() override {
        for (Level& l : levels_) close(l);
    }

    bool open(std::string& error) {
        if (!vipsStarted()) {
            error = "libvips cannot be started";
            return false;
        }
        Level first;
        if (!load(first, "page", 0, error)) return false;
        const int pages = vips_image_get_n_pages(first.image);
        int subifds = 0;
        if (pages <= 1 && vips_image_get_typeof(first.image, "n-subifds"))
            vips_image_get_int(first.image, "n-subifds", &subifds);
        levels_.push_back(std::move(first));
        // The finer levels' pages (or sub-IFDs) while each is half the one before.
        const int more = pages > 1 ? pages - 1 : subifds;
        for (int i = 0; i < more && levels_.size() < 64; ++i) {
            Level next;
            std::string ignored;
            if (!load(next, pages > 1 ? "page" : "subifd", pages > 1 ? i + 1 : i, ignored)) break;
            const TileSize finer = levels_.back().size;
            if (!halfOf(next.size.width, finer.width) || !halfOf(next.size.height, finer.height)) {
                close(next);
                break;
            }
            levels_.push_back(std::move(next));
        }
        info_.width = levels_[0].size.width;
        info_.height = levels_[0].size.height;
        info_.bands = static_cast<unsigned>(levels_[0].image->Bands);
        info_.format = "tiff";
        info_.remote = true;
        for (const Level& l : levels_) info_.levels.push_back(l.size);
        return true;
    }

    std::size_t levelCount() const override { return levels_.size(); }
    TileSize levelSize(std::size_t level) const override { return levels_[level].size; }
    const PictureInfo& info() const override { return info_; }
    std::string lastError() const override {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_.empty() ? blocks_->lastError() : lastError_;
    }
    TransferStats transfers() const override { return transferStats(*counters_); }

    bool readTile(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* pixels, std::size_t pitch,
                  TileReadControl& control) override {
        if (level >= levels_.size()) return false;
        const TileSize size = levels_[level].size;
        if (width == 0 || height == 0 || x >= size.width || y >= size.height || width > size.width - x ||
            height > size.height - y)
            return false;
        VipsImage* crop = nullptr;
        if (vips_crop(levels_[level].image, &crop, static_cast<int>(x), static_cast<int>(y),
                      static_cast<int>(width), static_cast<int>(height), nullptr) != 0) {
            fail(vipsError());
            return false;
        }
        control.onCancel([crop] { vips_image_set_kill(crop, TRUE); });
        std::string error;
        bool ok = false;
        try {
            ok = writeBgra(crop, pixels, pitch, error);
        } catch (...) {  // std::bad_alloc
            error = "out of memory";
        }
        control.onCancel(nullptr);
        g_object_unref(crop);
        if (!ok && !control.cancelled()) {
            const std::string blocksError = blocks_->lastError();
            fail(blocksError.empty() ? error : blocksError);
        }
        return ok && !control.cancelled();
    }

private:
    struct Level {
        std::unique_ptr<SourceState> state;
        VipsSourceCustom* source = nullptr;
        VipsImage* image = nullptr;
        TileSize size{};
    };

    bool load(Level& l, const char* which, int index, std::string& error) {
        l.state.reset(new SourceState);
        l.state->blocks = blocks_.get();
        l.source = vips_source_custom_new();
        if (!l.source) {
            error = vipsError();
            return false;
        }
        g_signal_connect(l.source, "read", G_CALLBACK(readSignal), l.state.get());
        g_signal_connect(l.source, "seek", G_CALLBACK(seekSignal), l.state.get());
        l.image = vips_image_new_from_source(VIPS_SOURCE(l.source), "", which, index, "access",
                                             VIPS_ACCESS_RANDOM, nullptr);
        if (!l.image) {
            const std::string blocksError = blocks_->lastError();
            error = blocksError.empty() ? "not a TIFF libvips reads (" + vipsError() + ")" : blocksError;
            close(l);
            return false;
        }
        l.size =
            TileSize{static_cast<std::uint32_t>(l.image->Xsize), static_cast<std::uint32_t>(l.image->Ysize)};
        return true;
    }

    // libvips may keep the source (in its operation cache) beyond the image: it is cut off from the
    // state first.
    static void close(Level& l) {
        if (l.image) g_object_unref(l.image);
        if (l.source) {
            g_signal_handlers_disconnect_by_data(l.source, l.state.get());
            g_object_unref(l.source);
        }
        l.image = nullptr;
        l.source = nullptr;
    }

    void fail(const std::string& why) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ = why;
    }

    std::shared_ptr<RangeBlocks> blocks_;
    std::shared_ptr<TransferCounters> counters_;
    std::vector<Level> levels_;
    PictureInfo info_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<PictureSource> openRemoteTiff(const std::string& url, std::shared_ptr<HttpFetcher> fetcher,
                                              std::shared_ptr<TransferCounters> counters,
                                              RemoteSettings settings, std::string& error) {
    auto blocks = std::make_shared<RangeBlocks>(url, std::move(fetcher), counters, std::move(settings));
    if (!blocks->open(error)) return nullptr;
    std::unique_ptr<RemoteTiff> tiff(new RemoteTiff(std::move(blocks), std::move(counters)));
    if (!tiff->open(error)) return nullptr;
    return std::unique_ptr<PictureSource>(std::move(tiff));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
