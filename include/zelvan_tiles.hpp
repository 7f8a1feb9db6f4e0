/*
 * Zelvan for C++: a tile view, for pictures of any size (up to 2^32 - 1 pixels a side). The picture's
 * pixels stay with the caller's TileSource; the view reads, on worker threads, only the tiles a frame
 * needs, keeps their textures within a budget (least recently drawn tile evicted first) and draws them
 * with the fourteen functions of zelvan.h, as Zelvan images placed tile by tile.
 *
 *     zelvan::Library library;
 *     MySource source;                              // a zelvan::TileSource
 *     zelvan::TileView view(source);
 *     view.place(zelvan::fit(view.width(), view.height(), 800, 600));
 *     view.draw({0, 0, 800, 600, 1});               // once per frame, under glOrtho(0, 800, 0, 600, ...)
 *
 * Levels: detail::levelsFor's two nearest levels, drawn as Pyramid draws them (detail::blendPasses: the
 * finer three times, a quarter pixel apart, the passes together at the placement's opacity; the coarser
 * only where the finer is missing); at scale >= 1 level 0 alone, pixel for pixel. When the two would need
 * more than half the budget (room for the frame before and for stand-ins), the coarser alone, then
 * coarser levels still: a view too large for its budget draws blurred, never thrashing.
 *
 * While tiles load, the view never shows a hole: the one-tile level is read first and kept resident
 * (pinned), and a missing tile is drawn from the nearest resident coarser level, cropped to its area (a
 * quarter of the coarser tile). A translucent picture leaves out a finer piece that a coarser stand-in
 * covers, so that nothing blends twice; an invalidated tile is drawn until its new pixels are uploaded.
 *
 * Memory: textures within budgetBytes on every frame, counted as allocated (power-of-two sides); at
 * most uploadBytesPerFrame of textures made per draw; read tiles waiting for upload in at most 8
 * buffers of 1 MiB, kept for the view's life. On glibc, textures freed and made as the view moves can
 * leave the heap fragmented; a long-running viewer keeps its memory nearer the budget with
 * mallopt(M_MMAP_THRESHOLD, 128 * 1024), which the benchmark measures (docs/performance.md).
 *
 * Threads: every member is called on the thread where the context is current; only the source's read
 * runs elsewhere, on up to 8 workers (or, with readOnDrawingThread, inside draw()). Nothing here throws;
 * running out of memory leaves the view empty or drawing less for a frame.
 */
#ifndef ZELVAN_TILES_HPP
#define ZELVAN_TILES_HPP

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_tiles_plan.hpp"

namespace zelvan {

/* What the caller implements. Level 0 is the finest; each next level about half the one before (rounded
 * up or down, as the source says). read() is called from worker threads, several at once. */
class TileSource {
public:
    virtual ~TileSource() = default;
    virtual std::size_t levelCount() const = 0;
    virtual TileSize levelSize(std::size_t level) const = 0;
    virtual TileSize preferredTileSize() const { return {}; }  // {0, 0}: no preference
    // Writes the height rows of width blue-green-red-alpha pixels at (x, y) of `level` into `pixels`,
    // rows `pitch` bytes apart. False on failure.
    virtual bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                      std::uint32_t height, unsigned char* pixels, std::size_t pitch) = 0;
};

struct TileViewOptions {
    std::size_t budgetBytes = std::size_t{256} << 20;  // texture bytes, as allocated (power-of-two sides)
    unsigned workers = 0;                              // 0: hardware threads - 1, at least 1
    std::size_t uploadBytesPerFrame = std::size_t{4} << 20;  // at most this much uploaded per draw
    unsigned retries = 2;  // a failed read is tried again this often, then given up
    // Reads made inside draw(), on the drawing thread, up to uploadBytesPerFrame each frame: for programs
    // that run no threads, and for runs that must repeat exactly. The view starts no worker.
    bool readOnDrawingThread = false;
};

struct TileStats {
    std::size_t residentBytes = 0;  // texture bytes of resident tiles
    std::size_t tilesResident = 0;
    std::uint64_t uploads = 0;       // tiles uploaded since construction
    std::uint64_t requests = 0;      // reads started since construction
    std::size_t readsPending = 0;    // queued or being read
    std::uint64_t readsFailed = 0;   // failed reads (each attempt)
    std::uint64_t readsGivenUp = 0;  // tiles given up after the retries
    std::size_t level = 0;           // the finer level the last frame drew
    bool complete = false;           // the last frame drew every tile it wanted at the level it wanted
};

namespace detail {

/* Reads waiting for a worker, reads under way and tiles read but not yet uploaded, shared between the
 * drawing thread and the workers under one lock. At most kHeldTiles tiles are held at once, each in a
 * buffer of one whole tile that is kept and reused: what arrived-but-not-uploaded tiles cost stays
 * bounded whatever the frame rate, and no buffer goes back to the allocator to be fragmented. */
class TileReader {
public:
    static constexpr std::size_t kHeldTiles = 8;
    static constexpr std::size_t kBufferBytes = std::size_t{kTileSide} * kTileSide * 4;

    using Buffer = std::unique_ptr<unsigned char[]>;
    struct Arrival {
        TileRequest request;
        Buffer pixels;      // null when the read failed
        bool ok = false;    // the read succeeded
        bool done = false;  // taken by the drawing thread, to be given back
    };

    /* Starts up to `workers` threads; false when not even one could start (the caller then reads itself). */
    bool start(TileSource& source, unsigned workers) noexcept {
        source_ = &source;
        try {
            arrivals_.reserve(kHeldTiles);
            reading_.reserve(kHeldTiles);
            spare_.reserve(kHeldTiles);
            threads_.reserve(workers);
            for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
        } catch (...) {  // std::bad_alloc, std::system_error: fewer workers
        }
        return !threads_.empty();
    }

    void stop() noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    bool threaded() const noexcept { return !threads_.empty(); }

    /* Moves the tiles read since the last call to `arrived` (capacity kHeldTiles reserved). */
    void collect(std::vector<Arrival>& arrived) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Arrival& a : arrivals_)
            if (arrived.size() < arrived.capacity()) arrived.push_back(std::move(a));
        arrivals_.clear();
    }

    /* Replaces the queue by `wanted` (most urgent last; its old contents come back in it), leaving out
     * tiles being read or read already: a read no longer wanted is dropped before it starts. Takes back
     * `released` tiles the caller has done with, and their buffers from `buffers`. */
    void setQueue(std::vector<TileRequest>& wanted, std::size_t released,
                  std::vector<Buffer>& buffers) noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto busy = [this](const TileRequest& r) {
                const std::uint64_t key = tileKey(r.tile);
                return std::find(reading_.begin(), reading_.end(), key) != reading_.end() ||
                       std::any_of(arrivals_.begin(), arrivals_.end(),
                                   [key](const Arrival& a) { return tileKey(a.request.tile) == key; });
            };
            wanted.erase(std::remove_if(wanted.begin(), wanted.end(), busy), wanted.end());
            queue_.swap(wanted);
            held_ -= std::min(held_, released);
            for (Buffer& b : buffers)
                if (spare_.size() < spare_.capacity()) spare_.push_back(std::move(b));
            buffers.clear();
        }
        wake_.notify_all();
    }

    /* Without workers: the most urgent queued read, done on the calling thread. */
    bool readOne(Arrival& out) noexcept {
        TileRequest request;
        Buffer buffer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty() || held_ >= kHeldTiles) return false;
            request = take(buffer);
        }
        out = read(request, std::move(buffer));
        return true;
    }

    std::uint64_t started() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    std::size_t pending() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.size() + reading_.size();
    }
    /* No read under way, and none read but not given back. */
    bool idle() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_ == 0;
    }

private:
    /* The most urgent request, with a spare buffer if there is one (lock held). */
    TileRequest take(Buffer& buffer) noexcept {
        const TileRequest request = queue_.back();
        queue_.pop_back();
        ++held_;
        ++started_;
        if (!spare_.empty()) {
            buffer = std::move(spare_.back());
            spare_.pop_back();
        }
        return request;
    }

    Arrival read(const TileRequest& r, Buffer buffer) noexcept {
        if (!buffer) buffer.reset(new (std::nothrow) unsigned char[kBufferBytes]);
        Arrival a{r, std::move(buffer)};
        if (a.pixels) {
            try {
                a.ok = source_->read(r.tile.level, r.rect.x, r.rect.y, r.rect.width, r.rect.height,
                                     a.pixels.get(), std::size_t{r.rect.width} * 4);
            } catch (...) {  // a source that throws has failed
            }
        }
        return a;
    }

    void work() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || (!queue_.empty() && held_ < kHeldTiles); });
            if (stopping_) return;
            Buffer buffer;
            const TileRequest request = take(buffer);
            reading_.push_back(tileKey(request.tile));  // held_ <= kHeldTiles = the capacity reserved
            lock.unlock();
            Arrival a = read(request, std::move(buffer));
            lock.lock();
            reading_.erase(std::find(reading_.begin(), reading_.end(), tileKey(request.tile)));
            arrivals_.push_back(std::move(a));  // within the capacity reserved, as above
        }
    }

    TileSource* source_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<TileRequest> queue_;  // most urgent last
    std::vector<Arrival> arrivals_;
    std::vector<std::uint64_t> reading_;
    std::vector<Buffer> spare_;
    std::size_t held_ = 0;  // tiles taken from the queue and not yet given back
    std::uint64_t started_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace detail

class TileView {
public:
    TileView() noexcept = default;

    explicit TileView(TileSource& source, const TileViewOptions& options = {}) noexcept {
        try {
            const Image probe(1, 1);  // no instance: no image, and no view
            if (!probe) return;
            std::vector<TileSize> levels(std::min(source.levelCount(), detail::kMaxLevels + 1));
            for (std::size_t k = 0; k < levels.size(); ++k) levels[k] = source.levelSize(k);
            if (!detail::levelsMakeSense(levels)) return;
            std::unique_ptr<State> state(new State);
            state->source = &source;
            state->levels = std::move(levels);
            state->options = options;
            state->arrived.reserve(detail::TileReader::kHeldTiles);
            state->ready.reserve(detail::TileReader::kHeldTiles);
            state->buffers.reserve(detail::TileReader::kHeldTiles);
            state->choosePinned();
            unsigned workers = options.workers;
            if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency()) - 1;
            // No more workers than tiles may be held at once: more would only wait.
            state->reader.start(
                source, options.readOnDrawingThread
                            ? 0
                            : std::clamp(workers, 1u, static_cast<unsigned>(detail::TileReader::kHeldTiles)));
            state_ = std::move(state);
        } catch (...) {  // std::bad_alloc, or a source that throws: an empty view
        }
    }

    ~TileView() {
        if (state_) state_->reader.stop();
    }
    TileView(const TileView&) = delete;
    TileView& operator=(const TileView&) = delete;

    explicit operator bool() const noexcept { return state_ != nullptr; }
    std::uint32_t width() const noexcept { return state_ ? state_->levels[0].width : 0; }
    std::uint32_t height() const noexcept { return state_ ? state_->levels[0].height : 0; }

    void place(const Placement& placement) noexcept {
        if (state_) state_->placement = placement;
    }
    void setBudget(std::size_t budgetBytes) noexcept {
        if (!state_) return;
        state_->options.budgetBytes = budgetBytes;
        state_->choosePinned();
    }
    void draw(const Frame& frame) noexcept {
        if (!state_) return;
        try {
            state_->draw(frame);
        } catch (...) {  // std::bad_alloc: this frame draws less; the next tries again
        }
    }
    void invalidate(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) noexcept {
        if (!state_) return;
        try {
            state_->invalidate(x, y, width, height);
        } catch (...) {  // std::bad_alloc: the tiles are not marked; nothing else changes
        }
    }
    TileStats stats() const noexcept {
        if (!state_) return {};
        TileStats s = state_->stats;
        s.residentBytes = state_->residentBytes;
        s.tilesResident = state_->tiles.size();
        s.requests = state_->reader.started();
        s.readsPending = state_->reader.pending();
        return s;
    }

private:
    struct Tile {
        Image quarters[4];
        std::size_t bytes = 0;
        std::uint64_t lastDrawn = 0;
        bool stale = false;  // invalidated: drawn until its new pixels come
        bool pinned = false;
    };
    struct Piece {
        std::uint64_t key;
        int quarter;
        std::uint32_t level;
        double u0, v0, u1, v1;  // level-0 pixels covered
    };
    using Arrival = detail::TileReader::Arrival;
    using TileRequest = detail::TileRequest;

    struct State {
        TileSource* source = nullptr;
        std::vector<TileSize> levels;
        TileViewOptions options;
        Placement placement;
        detail::TileReader reader;
        std::unordered_map<std::uint64_t, Tile> tiles;  // resident
        std::size_t residentBytes = 0;
        std::size_t pinnedLevel = 0, pinnedBytes = 0;
        bool pinning = false;
        std::unordered_map<std::uint64_t, unsigned> failures;
        std::unordered_set<std::uint64_t> givenUp;
        std::vector<Arrival> arrived, ready;              // ready: read, waiting for upload
        std::size_t released = 0;                         // tiles done with, to give back
        std::vector<detail::TileReader::Buffer> buffers;  // their buffers
        std::uint64_t frameNumber = 0, epoch = 0;
        struct Invalidation {
            std::uint64_t epoch;
            double u0, v0, u1, v1;  // level-0 pixels
        };
        std::vector<Invalidation> invalidations;
        TileStats stats;

        // Per frame, kept to reuse their memory.
        std::vector<detail::TileIndex> coarse, fine, pinnedTiles;
        std::unordered_set<std::uint64_t> wanted, asked;
        std::vector<Piece> pieces;

        detail::PixelRect rectOf(const detail::TileIndex& t) const {
            return detail::tileRect(levels[t.level], t.column, t.row);
        }
        double ratioX(std::uint32_t level) const {
            return detail::ratio(levels[0].width, levels[level].width);
        }
        double ratioY(std::uint32_t level) const {
            return detail::ratio(levels[0].height, levels[level].height);
        }

        /* Texture bytes of a whole level: its whole tiles, then the narrower ones at the right and bottom. */
        std::uint64_t levelBytes(std::size_t k) const {
            const TileSize s = levels[k];
            const std::uint64_t columns = s.width / detail::kTileSide, rows = s.height / detail::kTileSide;
            const std::uint32_t right = s.width % detail::kTileSide, bottom = s.height % detail::kTileSide;
            const auto bytes = [](std::uint32_t w, std::uint32_t h) {
                return std::uint64_t{detail::tileTextureBytes({0, 0, w, h})};
            };
            const std::uint32_t side = detail::kTileSide;
            return columns * rows * bytes(side, side) + rows * bytes(right, side) +
                   columns * bytes(side, bottom) + bytes(right, bottom);
        }

        /* The pinned level: the finest whole level within a quarter of the budget and 1 MiB (one tile),
         * read first and never evicted, so that a frame always has something to show. */
        void choosePinned() {
            pinning = false;
            pinnedBytes = 0;
            const std::size_t cap = std::min(options.budgetBytes / 4, std::size_t{1} << 20);
            for (std::size_t k = 0; k < levels.size(); ++k) {
                if (std::uint64_t{levels[k].width} * levels[k].height > std::uint64_t{1} << 22) continue;
                const std::uint64_t bytes = levelBytes(k);
                if (bytes <= cap) {
                    pinning = true;
                    pinnedLevel = k;
                    pinnedBytes = static_cast<std::size_t>(bytes);
                    break;
                }
            }
            for (auto& entry : tiles)
                entry.second.pinned = pinning && detail::tileOfKey(entry.first).level == pinnedLevel;
        }

        Tile* resident(std::uint64_t key) {
            const auto it = tiles.find(key);
            return it == tiles.end() ? nullptr : &it->second;
        }

        void evict(std::unordered_map<std::uint64_t, Tile>::iterator it) {
            residentBytes -= it->second.bytes;
            tiles.erase(it);
        }

        /* Frees texture bytes until `bytes` more fit in the budget, least recently drawn first, never a
         * tile drawn in this frame or the one before, nor a pinned or wanted one (wanted: lastDrawn set to
         * this frame before uploads). */
        bool makeRoom(std::size_t bytes) {
            while (residentBytes + bytes > options.budgetBytes) {
                auto victim = tiles.end();
                for (auto it = tiles.begin(); it != tiles.end(); ++it)
                    if (detail::evictable(it->second.lastDrawn, frameNumber, it->second.pinned) &&
                        (victim == tiles.end() || it->second.lastDrawn < victim->second.lastDrawn))
                        victim = it;
                if (victim == tiles.end()) return false;
                evict(victim);
            }
            return true;
        }

        /* After a smaller budget: evict down to it, drawn tiles too if need be. */
        void shrinkToBudget() {
            while (residentBytes > options.budgetBytes && !tiles.empty()) {
                auto victim = tiles.begin();
                for (auto it = tiles.begin(); it != tiles.end(); ++it)
                    if (std::make_pair(it->second.pinned, it->second.lastDrawn) <
                        std::make_pair(victim->second.pinned, victim->second.lastDrawn))
                        victim = it;
                evict(victim);
            }
        }

        void release(Arrival& a) {
            ++released;
            if (a.pixels && buffers.size() < buffers.capacity()) buffers.push_back(std::move(a.pixels));
            a.pixels.reset();
        }

        bool stillWanted(const detail::TileRequest& r) const {
            return wanted.count(detail::tileKey(r.tile)) != 0;
        }

        void recordFailure(std::uint64_t key) {
            ++stats.readsFailed;
            if (failures.size() > 65536)
                failures.clear();  // bounded: tiles the view left start counting again
            if (++failures[key] > options.retries) {
                failures.erase(key);
                if (givenUp.size() > 65536) givenUp.clear();  // bounded: given-up tiles are tried again
                givenUp.insert(key);
                ++stats.readsGivenUp;
            }
        }

        bool invalidatedSince(const detail::TileRequest& r) const {
            const detail::PixelRect rect = rectOf(r.tile);
            const double u0 = rect.x * ratioX(r.tile.level),
                         u1 = (rect.x + rect.width) * ratioX(r.tile.level);
            const double v0 = rect.y * ratioY(r.tile.level),
                         v1 = (rect.y + rect.height) * ratioY(r.tile.level);
            for (const Invalidation& i : invalidations)
                if (i.epoch > r.epoch && i.u0 < u1 && u0 < i.u1 && i.v0 < v1 && v0 < i.v1) return true;
            return false;
        }

        /* Uploads one tile as its quarters; the tile it replaces (invalidated) goes only once they are in. */
        bool upload(const Arrival& a) {
            const std::uint64_t key = detail::tileKey(a.request.tile);
            const std::size_t bytes = detail::tileTextureBytes(a.request.rect);
            if (!makeRoom(bytes)) return false;
            Tile fresh;
            fresh.bytes = bytes;
            fresh.pinned = pinning && a.request.tile.level == pinnedLevel;
            fresh.lastDrawn = frameNumber;
            fresh.stale = invalidatedSince(a.request);
            const std::size_t pitch = std::size_t{a.request.rect.width} * 4;
            for (int q = 0; q < 4; ++q) {
                const detail::PixelRect r = detail::quarterRect(a.request.rect, q);
                if (r.width == 0 || r.height == 0) continue;
                fresh.quarters[q] = Image(r.width, r.height);
                const unsigned char* first = a.pixels.get() + std::size_t{r.y - a.request.rect.y} * pitch +
                                             std::size_t{r.x - a.request.rect.x} * 4;
                // A quarter is one block: one upload, rows `pitch` apart (at most 2048 bytes).
                if (!ZelvanSetBlockPtr(fresh.quarters[q].handle(), 0, 0, first,
                                       static_cast<std::int32_t>(pitch))) {
                    recordFailure(key);
                    return true;  // done with it: the old tile, if any, stays
                }
            }
            if (Tile* old = resident(key)) {
                residentBytes -= old->bytes;
                fresh.lastDrawn = old->lastDrawn;
                *old = std::move(fresh);
            } else {
                tiles.emplace(key, std::move(fresh));
            }
            residentBytes += bytes;
            failures.erase(key);
            ++stats.uploads;
            return true;
        }

        /* Whether an arrival is done with: a failed read counted, a tile no longer wanted dropped, or
         * uploaded (adding to `uploaded`); false when it must wait for room or for the next frame's share. */
        bool takeArrival(const Arrival& a, std::size_t& uploaded) {
            if (!a.ok) {
                // A read started before an invalidation of its tile read old pixels: it does not
                // count against the tile's retries, which the fresh request starts again.
                if (invalidatedSince(a.request))
                    ++stats.readsFailed;
                else
                    recordFailure(detail::tileKey(a.request.tile));
                return true;
            }
            if (!stillWanted(a.request)) return true;
            const std::size_t bytes = detail::tileTextureBytes(a.request.rect);
            if (uploaded > 0 && uploaded + bytes > options.uploadBytesPerFrame) return false;
            if (!upload(a)) return false;
            uploaded += bytes;
            return true;
        }

        /* Uploads what has come, most urgent first, within uploadBytesPerFrame; what finds no room or
         * exceeds this frame's share waits (if still wanted). */
        void uploadArrivals(const Frame& frame, const detail::PictureMap& map) {
            for (Arrival& a : arrived)
                if (ready.size() < ready.capacity())
                    ready.push_back(std::move(a));
                else
                    release(a);
            arrived.clear();
            for (Arrival& a : ready)
                a.request.distance = detail::distanceToCentre(map, levels, a.request.tile, frame);
            std::sort(ready.begin(), ready.end(), [](const Arrival& a, const Arrival& b) {
                return detail::moreUrgent(a.request, b.request);
            });
            std::size_t uploaded = 0;
            for (Arrival& a : ready) {
                a.done = takeArrival(a, uploaded);  // throws (std::bad_alloc) with `ready` intact
                if (a.done) release(a);
            }
            ready.erase(std::remove_if(ready.begin(), ready.end(), [](const Arrival& a) { return a.done; }),
                        ready.end());
        }

        /* The tiles of `level` that meet the frame, at most `limit`; false when more. */
        bool visible(std::uint32_t level, const Frame& f, std::size_t limit,
                     std::vector<detail::TileIndex>& out) {
            out.clear();
            return detail::visibleTiles(placement, levels, level, f, limit, out);
        }

        std::size_t bytesOf(const std::vector<detail::TileIndex>& list) const {
            std::size_t bytes = 0;
            for (const detail::TileIndex& t : list) bytes += detail::tileTextureBytes(rectOf(t));
            return bytes;
        }

        /* The tiles of `level` under level-0 pixels (u0, v0)-(u1, v1): columns c0..c1, rows r0..r1. */
        struct TileRange {
            std::uint32_t c0, c1, r0, r1;
            std::uint64_t count() const { return std::uint64_t{c1 - c0 + 1} * (r1 - r0 + 1); }
        };
        TileRange tilesUnder(std::uint32_t level, double u0, double v0, double u1, double v1) const {
            const double sx = ratioX(level) * detail::kTileSide, sy = ratioY(level) * detail::kTileSide;
            const auto cell = [](double at, std::uint32_t n) {
                return static_cast<std::uint32_t>(std::clamp(std::floor(at), 0.0, n - 1.0));
            };
            const std::uint32_t columns = detail::tilesAcross(levels[level].width);
            const std::uint32_t rows = detail::tilesAcross(levels[level].height);
            return {cell(u0 / sx, columns), cell(std::nextafter(u1 / sx, 0.0), columns), cell(v0 / sy, rows),
                    cell(std::nextafter(v1 / sy, 0.0), rows)};
        }
        /* Whether those tiles are resident (or, if `wantedOnly`, those of them this frame wants). */
        bool residentUnder(std::uint32_t level, double u0, double v0, double u1, double v1,
                           bool wantedOnly = false) {
            const TileRange r = tilesUnder(level, u0, v0, u1, v1);
            if (r.count() > 16) return false;
            for (std::uint32_t row = r.r0; row <= r.r1; ++row)
                for (std::uint32_t col = r.c0; col <= r.c1; ++col) {
                    const std::uint64_t key = detail::tileKey({level, col, row});
                    if (resident(key) == nullptr && (!wantedOnly || wanted.count(key) != 0)) return false;
                }
            return true;
        }

        /* A missing tile drawn from the nearest resident level that covers it: coarser levels first, the
         * pinned level last (finer, when the frame wants a level coarser than it). */
        void addFallback(const detail::TileIndex& t) {
            const detail::PixelRect r = rectOf(t);
            const double u0 = r.x * ratioX(t.level), u1 = (r.x + r.width) * ratioX(t.level);
            const double v0 = r.y * ratioY(t.level), v1 = (r.y + r.height) * ratioY(t.level);
            const auto cover = [&](std::uint32_t level) {
                if (!residentUnder(level, u0, v0, u1, v1)) return false;
                const TileRange range = tilesUnder(level, u0, v0, u1, v1);
                for (std::uint32_t row = range.r0; row <= range.r1; ++row)
                    for (std::uint32_t col = range.c0; col <= range.c1; ++col)
                        addPieces({level, col, row}, u0, v0, u1, v1);
                return true;
            };
            for (std::uint32_t level = t.level + 1; level < levels.size(); ++level)
                if (cover(level)) return;
            if (pinning && pinnedLevel < t.level) cover(static_cast<std::uint32_t>(pinnedLevel));
        }

        /* The quarters of a resident tile that overlap level-0 pixels (u0, v0)-(u1, v1). */
        void addPieces(const detail::TileIndex& t, double u0, double v0, double u1, double v1) {
            const detail::PixelRect tile = rectOf(t);
            const double rx = ratioX(t.level), ry = ratioY(t.level);
            for (int q = 0; q < 4; ++q) {
                const detail::PixelRect r = detail::quarterRect(tile, q);
                if (r.width == 0 || r.height == 0) continue;
                const Piece p{detail::tileKey(t),   q, t.level, r.x * rx, r.y * ry, (r.x + r.width) * rx,
                              (r.y + r.height) * ry};
                if (p.u0 < u1 && u0 < p.u1 && p.v0 < v1 && v0 < p.v1) pieces.push_back(p);
            }
        }

        /* Draws a piece at `alpha`, moved shiftX and shiftY units along the axes of the picture's turned
         * frame. */
        void drawPiece(const Piece& p, std::uint8_t alpha, float shiftX = 0, float shiftY = 0) {
            Tile* tile = resident(p.key);
            if (tile == nullptr) return;
            const detail::PixelRect r = detail::quarterRect(rectOf(detail::tileOfKey(p.key)), p.quarter);
            Image& image = tile->quarters[p.quarter];
            const Placement at = detail::piecePlacement(placement, levels[0], levels[p.level], r, alpha);
            image.place(at);
            if (shiftX != 0 || shiftY != 0)
                detail::translateShifted(image.handle(), at, r.width, r.height, shiftX, shiftY);
            image.draw();
            tile->lastDrawn = frameNumber;
        }

        void addRequests(const std::vector<detail::TileIndex>& list, bool pinned, const Frame& f,
                         const detail::PictureMap& map, std::vector<TileRequest>& out) {
            for (const detail::TileIndex& t : list) {
                const std::uint64_t key = detail::tileKey(t);
                const Tile* tile = resident(key);
                if ((tile != nullptr && !tile->stale) || givenUp.count(key) != 0) continue;
                if (!asked.insert(key).second) continue;  // read and waiting, or asked for already
                out.push_back({t, rectOf(t), epoch, pinned, detail::distanceToCentre(map, levels, t, f)});
            }
        }

        void draw(const Frame& frame) {
            ++frameNumber;
            if (residentBytes > options.budgetBytes) shrinkToBudget();
            const detail::PictureMap map = detail::PictureMap::of(placement, levels[0]);

            // The levels, and the tiles of each, that this frame wants.
            const double pixels = std::min(std::fabs(placement.scaleX), std::fabs(placement.scaleY)) *
                                  std::fabs(frame.pixelsPerUnit);
            const std::size_t budget =
                options.budgetBytes > pinnedBytes ? options.budgetBytes - pinnedBytes : 0;
            const std::size_t available = budget / 2;  // room for the frame before, and for coarser stand-ins
            const std::size_t limit = std::min<std::size_t>(4096, available / 4 + 1);
            std::vector<detail::TileIndex> scratch;
            std::vector<std::size_t> bytesAt(levels.size(), SIZE_MAX - 1);
            const auto bytesFor = [&](std::size_t level) {
                if (bytesAt[level] == SIZE_MAX - 1)
                    bytesAt[level] = visible(static_cast<std::uint32_t>(level), frame, limit, scratch)
                                         ? bytesOf(scratch)
                                         : SIZE_MAX;
                return bytesAt[level];
            };
            detail::LevelChoice choice = detail::chooseLevels(pixels, levels.size(), available, bytesFor);
            const auto finer = static_cast<std::uint32_t>(choice.blend.finer);
            const auto coarser = static_cast<std::uint32_t>(choice.blend.coarser);
            Frame shown = frame;  // not even the last level fits: its tiles nearest the centre
            for (int i = 0;
                 i < 64 && !(visible(coarser, shown, limit, coarse) && bytesOf(coarse) <= available); ++i) {
                const double cx = (shown.left + shown.right) / 2, cy = (shown.bottom + shown.top) / 2;
                shown.left = (shown.left + cx) / 2;
                shown.right = (shown.right + cx) / 2;
                shown.bottom = (shown.bottom + cy) / 2;
                shown.top = (shown.top + cy) / 2;
            }
            fine.clear();
            if (finer != coarser) visible(finer, frame, limit, fine);
            pinnedTiles.clear();
            if (pinning) {
                const TileSize s = levels[pinnedLevel];
                for (std::uint32_t r = 0; r < detail::tilesAcross(s.height); ++r)
                    for (std::uint32_t c = 0; c < detail::tilesAcross(s.width); ++c)
                        pinnedTiles.push_back({static_cast<std::uint32_t>(pinnedLevel), c, r});
            }
            wanted.clear();
            for (const auto* list : {&coarse, &fine, &pinnedTiles})
                for (const detail::TileIndex& t : *list) {
                    const std::uint64_t key = detail::tileKey(t);
                    wanted.insert(key);
                    if (Tile* tile = resident(key)) tile->lastDrawn = frameNumber;
                }

            // What has come, then the frame: coarse stand-ins first, the coarser level opaque, the finer
            // over it at its opacity.
            reader.collect(arrived);
            uploadArrivals(frame, map);
            if (!reader.threaded()) {  // no worker (asked for, or none could start): read here
                std::size_t read = 0;
                Arrival a;
                // Within this frame's share, but at least one tile, as uploads are.
                while ((read == 0 || read < options.uploadBytesPerFrame) && reader.readOne(a)) {
                    read += std::size_t{a.request.rect.width} * a.request.rect.height * 4;
                    arrived.push_back(std::move(a));
                }
                uploadArrivals(frame, map);
            }

            pieces.clear();
            bool complete = std::all_of(
                pinnedTiles.begin(), pinnedTiles.end(),
                [this](const detail::TileIndex& t) { return resident(detail::tileKey(t)) != nullptr; });
            for (const detail::TileIndex& t : coarse) {
                const Tile* tile = resident(detail::tileKey(t));
                if (tile != nullptr) {
                    addPieces(t, 0, 0, HUGE_VAL, HUGE_VAL);
                    complete = complete && !tile->stale;
                } else {
                    addFallback(t);
                    complete = false;
                }
            }
            std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
                return a.level != b.level
                           ? a.level > b.level
                           : std::make_pair(a.key, a.quarter) < std::make_pair(b.key, b.quarter);
            });
            const auto same = [](const Piece& a, const Piece& b) {
                return a.key == b.key && a.quarter == b.quarter;
            };
            pieces.erase(std::unique(pieces.begin(), pieces.end(), same), pieces.end());
            // Passes as Pyramid draws its levels (detail::blendPasses), the first coarser one the base;
            // where the finer level is missing, the coarser alone at the placement's opacity.
            const std::uint8_t alpha = placement.alpha;
            const detail::BlendPasses passes =
                detail::blendPasses(choice.blend, alpha / 255.0, frame.pixelsPerUnit);
            const auto opacityOf = [alpha](double fraction) {
                return static_cast<std::uint8_t>(std::lround(alpha * std::clamp(fraction, 0.0, 1.0)));
            };
            const std::uint8_t under = opacityOf(passes.pass[0].opacity);
            std::vector<const Piece*> drawn;
            for (const Piece& p : pieces) {
                // Translucent: a piece that a coarser one already covers would blend twice.
                const auto covers = [&](const Piece* c) {
                    return c->level > p.level && c->u0 <= p.u0 + 1e-6 && c->v0 <= p.v0 + 1e-6 &&
                           c->u1 >= p.u1 - 1e-6 && c->v1 >= p.v1 - 1e-6;
                };
                if (alpha < 255 && std::any_of(drawn.begin(), drawn.end(), covers)) continue;
                const bool beneath = finer != coarser && p.level == coarser &&
                                     residentUnder(finer, p.u0, p.v0, p.u1, p.v1, true);
                if (beneath && under == 0) continue;
                drawPiece(p, beneath ? under : alpha);
                drawn.push_back(&p);
            }
            // The finer level's passes, each whole before the next, so that no piece blends over a
            // neighbour of its own pass.
            pieces.clear();
            for (const detail::TileIndex& t : fine) {
                const Tile* tile = resident(detail::tileKey(t));
                if (tile == nullptr) {
                    complete = false;
                    continue;
                }
                complete = complete && !tile->stale;
                addPieces(t, 0, 0, HUGE_VAL, HUGE_VAL);
            }
            for (const detail::BlendPass& pass : passes)
                if (!pass.coarser && opacityOf(pass.opacity) != 0)
                    for (const Piece& p : pieces)
                        drawPiece(p, opacityOf(pass.opacity), pass.shiftX, pass.shiftY);

            // What to read next: the pinned level, then coarse before fine, nearest the centre first.
            nextQueue.clear();
            asked.clear();
            for (const Arrival& a : ready) asked.insert(detail::tileKey(a.request.tile));
            addRequests(pinnedTiles, true, frame, map, nextQueue);
            addRequests(coarse, false, frame, map, nextQueue);
            addRequests(fine, false, frame, map, nextQueue);
            std::sort(nextQueue.begin(), nextQueue.end(),
                      [](const TileRequest& a, const TileRequest& b) { return detail::moreUrgent(b, a); });
            reader.setQueue(nextQueue, released, buffers);
            released = 0;
            if (reader.idle()) invalidations.clear();

            stats.level = finer;
            stats.complete = complete && choice.fits;
        }

        std::vector<TileRequest> nextQueue;

        void invalidate(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) {
            if (w == 0 || h == 0) return;
            const double u0 = x, v0 = y, u1 = u0 + w, v1 = v0 + h;
            ++epoch;
            if (invalidations.size() >= 1024) {  // bounded: merged into one rectangle around them all
                Invalidation all{epoch, u0, v0, u1, v1};
                for (const Invalidation& i : invalidations)
                    all = {epoch, std::min(all.u0, i.u0), std::min(all.v0, i.v0), std::max(all.u1, i.u1),
                           std::max(all.v1, i.v1)};
                invalidations.assign(1, all);
            } else {
                invalidations.push_back({epoch, u0, v0, u1, v1});
            }
            for (auto& entry : tiles) {
                const detail::TileIndex t = detail::tileOfKey(entry.first);
                const detail::PixelRect r = rectOf(t);
                const double tu0 = r.x * ratioX(t.level), tu1 = (r.x + r.width) * ratioX(t.level);
                const double tv0 = r.y * ratioY(t.level), tv1 = (r.y + r.height) * ratioY(t.level);
                if (tu0 < u1 && u0 < tu1 && tv0 < v1 && v0 < tv1) {
                    entry.second.stale = true;
                    givenUp.erase(entry.first);
                    failures.erase(entry.first);
                }
            }
            for (auto it = givenUp.begin(); it != givenUp.end();) {
                const detail::TileIndex t = detail::tileOfKey(*it);
                const detail::PixelRect r = rectOf(t);
                const double tu0 = r.x * ratioX(t.level), tu1 = (r.x + r.width) * ratioX(t.level);
                const double tv0 = r.y * ratioY(t.level), tv1 = (r.y + r.height) * ratioY(t.level);
                it = (tu0 < u1 && u0 < tu1 && tv0 < v1 && v0 < tv1) ? givenUp.erase(it) : std::next(it);
            }
        }
    };

    std::unique_ptr<State> state_;
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_HPP */
