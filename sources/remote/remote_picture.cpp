// A read starts every fetch it needs before it waits for any, so the tiles of one view tile travel
// together; a cancellation from the view stops all of them at once. A body is kept on disk only once it
// has decoded, so a broken answer is not served again from the cache.
#include "remote_picture.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "decoded_tiles.h"
#include "remote/network/shared_transfers.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::size_t kMaxTileBytes = std::size_t{32} << 20;
constexpr std::size_t kDecodedLimit = std::size_t{64} << 20;
constexpr std::size_t kMaxPartsPerRead = 100;  // a 512 view tile over 64-pixel server tiles, misaligned

class RemotePicture final : public PictureSource {
public:
    RemotePicture(TileLayout layout, std::shared_ptr<RemoteRequests> requests, Warnings warnings)
        : layout_(std::move(layout)),
          requests_(std::move(requests)),
          warnings_(std::move(warnings)),
          decoded_(kDecodedLimit),
          transfers_(requests_->fetcher()) {
        info_.width = layout_.width;
        info_.height = layout_.height;
        info_.bands = 3;
        info_.format = layout_.format;
        info_.remote = true;
        for (const GridLevel& g : layout_.levels) info_.levels.push_back(TileSize{g.width, g.height});
    }

    std::size_t levelCount() const override { return layout_.levels.size(); }
    TileSize levelSize(std::size_t level) const override {
        const GridLevel& g = layout_.levels[level];
        return TileSize{g.width, g.height};
    }
    const PictureInfo& info() const override { return info_; }
    std::string lastError() const override {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_;
    }
    TransferStats transfers() const override { return requests_->stats(); }

    bool readTile(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* pixels, std::size_t pitch,
                  TileReadControl& control) override {
        try {
            return assemble(level, x, y, width, height, pixels, pitch, control);
        } catch (const std::bad_alloc&) {
            fail("out of memory");
        } catch (...) {
            fail("cannot be read");
        }
        control.onCancel(nullptr);
        return false;
    }

private:
    struct Part {
        std::uint32_t column = 0, row = 0;
        std::uint64_t key = 0;
        std::string url;
        DecodedTiles::Tile tile;
        std::vector<unsigned char> body;  // from the disk cache or the server
        SharedTransfers::Handle transfer;
        bool fetched = false, noStore = false;  // came from the server, which said no-store
        bool whole = false;                     // its content lies inside the read: decoded into `target`
        TileTarget target;
    };

    // The transfers one read joined, left once: when it is cancelled, or when it ends.
    struct Joined {
        std::mutex mutex;
        bool left = false;
        std::vector<SharedTransfers::Handle> transfers;
        void leave(SharedTransfers& all) {
            std::lock_guard<std::mutex> lock(mutex);
            if (left) return;
            left = true;
            for (const SharedTransfers::Handle& t : transfers) all.leave(t);
        }
    };

    void fail(const std::string& why) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ = why;
    }

    bool assemble(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* pixels, std::size_t pitch, TileReadControl& control) {
        if (level >= layout_.levels.size() || width == 0 || height == 0) return false;
        const GridLevel& g = layout_.levels[level];
        if (x >= g.width || y >= g.height || width > g.width - x || height > g.height - y) return false;
        const std::uint32_t c0 = x / g.tileWidth, c1 = (x + width - 1) / g.tileWidth;
        const std::uint32_t r0 = y / g.tileHeight, r1 = (y + height - 1) / g.tileHeight;
        if (std::size_t{c1 - c0 + 1} * (r1 - r0 + 1) > kMaxPartsPerRead) {
            fail("a read needs more than " + std::to_string(kMaxPartsPerRead) + " server tiles");
            return false;
        }

        // Memory first, then disk, then the network, every fetch started before any is waited for.
        std::vector<Part> parts;
        auto joined = std::make_shared<Joined>();
        struct LeaveAtEnd {
            Joined& joined;
            SharedTransfers& all;
            ~LeaveAtEnd() { joined.leave(all); }
        } leaveAtEnd{*joined, transfers_};
        for (std::uint32_t r = r0; r <= r1; ++r)
            for (std::uint32_t c = c0; c <= c1; ++c) parts.push_back(lookUp(level, c, r, *joined));
        if (!joined->transfers.empty()) {
            SharedTransfers* all = &transfers_;
            control.onCancel([joined, all] { joined->leave(*all); });
        }

        // A server tile whose content lies inside the read is needed by no other read of the view's grid:
        // it is decoded straight into the read's pixels, not kept.
        for (Part& p : parts) {
            const std::uint32_t left = p.column * g.tileWidth, top = p.row * g.tileHeight;
            const std::uint32_t w = std::min(g.tileWidth, g.width - left),
                                h = std::min(g.tileHeight, g.height - top);
            p.whole = !p.tile && left >= x && top >= y &&
                      std::uint64_t{left} + w <= std::uint64_t{x} + width &&
                      std::uint64_t{top} + h <= std::uint64_t{y} + height;
            if (p.whole)
                p.target = TileTarget{leadingOverlap(g, p.column),
                                      leadingOverlap(g, p.row),
                                      w,
                                      h,
                                      pixels + (top - y) * pitch + std::size_t{left - x} * 4,
                                      pitch};
        }

        // A part that came is decoded and kept even when another failed: the next read may need it.
        bool ok = true;
        std::chrono::milliseconds retryAfter{0};
        for (Part& p : parts)
            if (!p.tile) ok = receive(p, control, retryAfter) && !control.cancelled() && decode(g, p) && ok;
        control.onCancel(nullptr);
        if (!ok) {
            if (retryAfter.count() > 0) control.retryAfter(retryAfter);
            return false;
        }
        for (const Part& p : parts)
            if (p.tile->pixels) copyPart(g, p, x, y, width, height, pixels, pitch);
        return true;
    }

    // A server tile of a read: decoded in memory, its body on disk, or its transfer joined.
    Part lookUp(std::size_t level, std::uint32_t column, std::uint32_t row, Joined& joined) {
        Part p;
        p.column = column;
        p.row = row;
        p.key = DecodedTiles::key(level, column, row);
        p.tile = decoded_.find(p.key);
        if (p.tile) return p;
        p.url = layout_.tileUrl(level, column, row);
        if (requests_->load(p.url, kMaxTileBytes, p.body)) return p;
        p.body.clear();
        p.transfer = transfers_.join(p.key, requests_->request(p.url, kMaxTileBytes));
        joined.transfers.push_back(p.transfer);
        return p;
    }

    // The body of a part that was fetched, once it came; false when it was cancelled or failed (the
    // picture's error says why), raising `retryAfter` to what a busy server asked for.
    bool receive(Part& p, TileReadControl& control, std::chrono::milliseconds& retryAfter) {
        if (!p.transfer) return true;
        HttpResponse response = transfers_.response(p.transfer, control);
        if (response.outcome == HttpResponse::Outcome::Cancelled) return false;
        if (response.outcome == HttpResponse::Outcome::RetryLater) {
            retryAfter = std::max(retryAfter, response.retryAfter);
            fail(p.url + ": " + response.error + ", retry after " +
                 std::to_string(response.retryAfter.count() / 1000) + " s");
            return false;
        }
        if (response.outcome != HttpResponse::Outcome::Ok) {
            fail(p.url + ": " + response.error);
            return false;
        }
        p.body = std::move(response.body);
        p.fetched = true;
        p.noStore = response.noStore;
        return true;
    }

    // Decodes a part's body into memory (or a whole one into its target, see decodeTile), and keeps a
    // fetched one on disk once it has decoded; false (counted as failed, the picture's error saying why)
    // when it does not decode or is too small.
    bool decode(const GridLevel& g, Part& p) {
        if (p.fetched && (p.tile = decoded_.find(p.key))) return true;  // another read sharing it decoded it
        auto tile = std::make_shared<DecodedTile>();
        std::string why;
        WarningCollector collected;  // decoded on this thread: what libvips logs meanwhile is this picture's
        const bool decoded = decodeTile(p.body.data(), p.body.size(), shapeOf(g, p), *tile, why,
                                        p.whole ? &p.target : nullptr);
        if (decoded) warnings_->tell(collected.take());
        if (!decoded || !coversContent(g, p, *tile, why)) {
            ++requests_->counters().failed;
            fail(p.url + ": " + why);
            return false;
        }
        if (p.fetched) requests_->store(p.url, p.body, p.noStore);
        p.tile = tile;
        if (tile->pixels) decoded_.insert(p.key, std::move(tile));
        return true;
    }

    // Where a server tile's content starts inside its picture: past the overlap it carries on the left
    // and top.
    static std::uint32_t leadingOverlap(const GridLevel& g, std::uint32_t index) {
        return index > 0 ? g.overlap : 0;
    }

    // Servers round a scaled region's size their own way: one that keeps the region's shape (iipsrv asked
    // for a width alone) draws a narrow edge tile a few pixels taller than its place. So much more than
    // declared is taken, a region scaled to its place; more is refused.
    TileShape shapeOf(const GridLevel& g, const Part& p) const {
        TileShape shape;
        shape.width = g.tileWidth + 2 * g.overlap;
        shape.height = g.tileHeight + 2 * g.overlap;
        shape.slack = 2 + std::max(g.tileWidth, g.tileHeight) / 32;
        if (layout_.scaledRegions && g.overlap == 0) {
            shape.fitWidth = std::min<std::uint32_t>(g.tileWidth, g.width - p.column * g.tileWidth);
            shape.fitHeight = std::min<std::uint32_t>(g.tileHeight, g.height - p.row * g.tileHeight);
        }
        return shape;
    }

    // A tile may come one pixel short (servers round sizes their own way; the last pixel is repeated), no
    // more.
    static bool coversContent(const GridLevel& g, const Part& p, const DecodedTile& tile, std::string& why) {
        const std::uint64_t contentWidth =
            std::min<std::uint64_t>(g.tileWidth, g.width - std::uint64_t{p.column} * g.tileWidth);
        const std::uint64_t contentHeight =
            std::min<std::uint64_t>(g.tileHeight, g.height - std::uint64_t{p.row} * g.tileHeight);
        if (std::uint64_t{tile.width} + 1 >= leadingOverlap(g, p.column) + contentWidth &&
            std::uint64_t{tile.height} + 1 >= leadingOverlap(g, p.row) + contentHeight)
            return true;
        why = "tile of " + std::to_string(tile.width) + " x " + std::to_string(tile.height) +
              " pixels, smaller than its place of " + std::to_string(contentWidth) + " x " +
              std::to_string(contentHeight);
        return false;
    }

    static void copyPart(const GridLevel& g, const Part& p, std::uint32_t x, std::uint32_t y,
                         std::uint32_t width, std::uint32_t height, unsigned char* pixels,
                         std::size_t pitch) {
        const DecodedTile& tile = *p.tile;
        const std::uint64_t left = std::uint64_t{p.column} * g.tileWidth;
        const std::uint64_t top = std::uint64_t{p.row} * g.tileHeight;
        const std::uint64_t x0 = std::max<std::uint64_t>(x, left);
        const std::uint64_t x1 =
            std::min<std::uint64_t>({std::uint64_t{x} + width, left + g.tileWidth, g.width});
        const std::uint64_t y0 = std::max<std::uint64_t>(y, top);
        const std::uint64_t y1 =
            std::min<std::uint64_t>({std::uint64_t{y} + height, top + g.tileHeight, g.height});
        if (x0 >= x1 || y0 >= y1) return;
        const std::uint64_t sourceX = leadingOverlap(g, p.column) + (x0 - left);
        const std::uint64_t run = x1 - x0;
        // Columns the tile has, and those past its edge, which repeat its last column.
        const std::uint64_t inside =
            sourceX >= tile.width ? 0 : std::min<std::uint64_t>(run, tile.width - sourceX);
        for (std::uint64_t row = y0; row < y1; ++row) {
            const std::uint64_t sourceY =
                std::min<std::uint64_t>(leadingOverlap(g, p.row) + (row - top), tile.height - 1);
            const unsigned char* from = tile.pixels.get() + (sourceY * tile.width) * 4;
            unsigned char* to = pixels + (row - y) * pitch + (x0 - x) * 4;
            std::memcpy(to, from + sourceX * 4, inside * 4);
            for (std::uint64_t k = inside; k < run; ++k)
                std::memcpy(to + k * 4, from + (tile.width - 1) * 4, 4);
        }
    }

    TileLayout layout_;
    std::shared_ptr<RemoteRequests> requests_;
    Warnings warnings_;
    DecodedTiles decoded_;
    SharedTransfers transfers_;
    PictureInfo info_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<PictureSource> makeRemotePicture(TileLayout layout, std::shared_ptr<RemoteRequests> requests,
                                                 Warnings warnings) {
    return std::unique_ptr<PictureSource>(
        new RemotePicture(std::move(layout), std::move(requests), std::move(warnings)));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
