/*
 * Zelvan for C++: a tile view, for pictures of any size (up to 2^32 - 1 pixels a side). The picture's
 * pixels stay with the caller's TileSource (zelvan_tiles_source.hpp); the view reads, on worker threads,
 * only the tiles a frame needs, keeps their textures within a budget and draws them with the fourteen
 * functions of zelvan.h, as Zelvan images placed part by part.
 *
 *     zelvan::Library library;
 *     MySource source;                              // a zelvan::TileSource, outliving the view
 *     zelvan::TileView view(source);
 *     view.waitUntilReady(std::chrono::milliseconds(500));   // optional: the first frame not blank
 *     view.place(zelvan::fit(view.width(), view.height(), 800, 600));
 *     view.draw({0, 0, 800, 600, 1});               // once per frame, under glOrtho(0, 800, 0, 600, ...)
 *
 * docs/using.md ("The tile view") tells the whole contract; each member below says what it does, its
 * units, its null result, its thread and its cost.
 *
 * Levels drawn: the two nearest the scale on screen (zelvan_levels.hpp's rule), drawn as Pyramid draws
 * them (the finer three times, a quarter pixel apart, the passes together at the placement's opacity;
 * the coarser only where the finer is missing); at scale >= 1 level 0 alone, pixel for pixel. When the two
 * would need more than half the budget (room for the frame before and for stand-ins), the coarser alone, then
 * coarser levels still: a view too large for its budget draws blurred, never thrashing. TileStats says which,
 * and whether the budget forced it.
 *
 * While tiles load: the one-tile level is read first and kept resident (pinned); a missing tile is drawn
 * from the nearest resident coarser level, cropped to its area. Once the pinned level is resident no
 * frame shows the background inside the picture. Opaque pictures are watertight at any angle: each
 * part reaches a thousandth of a pixel over the next one drawn after it, so that float rounding leaves
 * no crack. A translucent picture leaves out a finer part that a coarser stand-in covers, so that
 * nothing blends twice; an invalidated tile is drawn until its new pixels are uploaded.
 *
 * Memory: textures within budgetBytes on every frame, counted as allocated (power-of-two sides); at
 * most uploadBytesPerFrame of textures made per draw; read tiles waiting for upload in at most 8
 * buffers of 1 MiB, kept for the view's life. On glibc, textures freed and made as the view moves can
 * leave the heap fragmented; a long-running viewer keeps its memory nearer the budget with
 * mallopt(M_MMAP_THRESHOLD, 128 * 1024), which the benchmark measures (docs/performance.md).
 *
 * Threads: every member is called on the thread where the context is current; only the source's reads
 * run elsewhere, on the view's workers (or, with readOnDrawingThread, inside draw()). Link with the
 * thread library (CMake: Zelvan::tiles). Nothing here throws; running out of memory leaves the view
 * empty or drawing less for a frame.
 *
 * Typed pictures (TileSource::sampleLayout other than colours): tiles are kept raw, within rawBudgetBytes,
 * and become texels through the view's DisplayMapping as they are uploaded. setMapping() makes the
 * visible tiles anew from the raw ones, coarse levels first, within the per-frame upload allowance, each
 * drawn with its old texels until its new ones are in: no read, no blank. docs/scientific.md tells more.
 *
 * Lifetime: the source must outlive the view. A view that outlives its Library (or the instance it was
 * made in) draws nothing, reports nothing resident, and never touches a later instance.
 */
#ifndef ZELVAN_TILES_HPP
#define ZELVAN_TILES_HPP

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_mapping.hpp"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_mapping_tables.hpp"
#include "zelvan_tiles_cache.hpp"
#include "zelvan_tiles_plan.hpp"
#include "zelvan_tiles_raw.hpp"
#include "zelvan_tiles_reader.hpp"
#include "zelvan_tiles_source.hpp"

namespace zelvan {

struct TileViewOptions {
    /* Texture bytes, as allocated (power-of-two sides), never exceeded after a draw. */
    std::size_t budgetBytes = std::size_t{256} << 20;
    /* Worker threads reading tiles. 0: the hardware threads, at least 4 and at most 8, so that sources
     * that wait (disks, servers) overlap their waits even on a small machine. At most 8 are used. */
    unsigned workers = 0;
    /* Texture bytes made per draw, at most; at least one tile a draw. */
    std::size_t uploadBytesPerFrame = std::size_t{4} << 20;
    /* A failed read is tried again this often, then the tile is given up... */
    unsigned retries = 2;
    /* ...for this long, doubling each time it is given up again (at most 2 minutes), then tried afresh.
     * TileView::retryGivenUp() tries them at once; invalidate() too, for the tiles it covers. */
    std::chrono::milliseconds retryBackoff{2000};
    /* Reads made inside draw(), on the drawing thread, up to uploadBytesPerFrame each frame: for programs
     * that run no threads, and for runs that must repeat exactly. The view starts no worker. */
    bool readOnDrawingThread = false;
    /* The first draw waits up to this long for the one-tile level, so that it is not blank (as
     * waitUntilReady). 0: it draws what there is. */
    std::chrono::milliseconds firstDrawWait{0};
    /* Typed pictures: bytes of raw samples kept (least recently wanted first), so that a new mapping, or
     * a tile wanted again, needs no read. A tile that does not fit is read again when its mapping
     * changes. Unused for pictures of their own colours. */
    std::size_t rawBudgetBytes = std::size_t{512} << 20;
};

/* Why a view is empty, or Ready when it is not. */
enum class TileViewStatus {
    Ready,
    Empty,         // made by the default constructor, or moved from
    NoLibrary,     // no library instance (no Library, or ZelvanInit not called) when it was made
    BadLevels,     // the source's levels make no sense (see TileSource)
    BadSamples,    // the source's sample layout makes no sense (see SampleLayout)
    SourceFailed,  // the source threw while telling its levels
    OutOfMemory,   // the view's memory could not be had
    LibraryGone,   // its library instance has ended since
};

/* One line of text for a status, for messages. Never null. */
inline const char* describe(TileViewStatus status) noexcept {
    switch (status) {
        case TileViewStatus::Ready:
            return "ready";
        case TileViewStatus::Empty:
            return "empty view";
        case TileViewStatus::NoLibrary:
            return "no Zelvan library instance when the view was made";
        case TileViewStatus::BadLevels:
            return "the source's levels make no sense (1 to 64 levels, none empty, none larger than the one "
                   "before)";
        case TileViewStatus::BadSamples:
            return "the source's samples make no sense (colours, or 1 to 64 channels of a known type)";
        case TileViewStatus::SourceFailed:
            return "the source failed while telling its levels";
        case TileViewStatus::OutOfMemory:
            return "out of memory";
        case TileViewStatus::LibraryGone:
            return "the view's library instance has ended";
    }
    return "unknown";
}

struct TileStats {
    std::size_t residentBytes = 0;  // texture bytes of resident tiles
    std::size_t tilesResident = 0;
    std::uint64_t uploads = 0;         // tiles uploaded since construction
    std::uint64_t requests = 0;        // reads started since construction
    std::size_t readsPending = 0;      // queued or being read
    std::uint64_t readsFailed = 0;     // failed reads and uploads (each attempt)
    std::uint64_t readsGivenUp = 0;    // times a tile was given up after its retries
    std::uint64_t readsCancelled = 0;  // reads cancelled while under way, their tile no longer wanted
    std::vector<TileIndex> givenUp;    // tiles given up now, waiting for their back-off
    std::size_t level = 0;             // the finer level the last frame drew
    std::size_t coarserLevel = 0;      // the coarser level it drew (level, when one level alone)
    std::size_t scaleLevel = 0;        // the finer level its scale asked for
    bool budgetLimited = false;        // the budget made it draw coarser levels than its scale asked
    bool ready = false;                // the one-tile level is resident: no frame shows a hole
    std::size_t rawBytes = 0;          // raw samples kept (typed pictures)
    std::size_t rawTiles = 0;
    bool complete = false;  // it drew every tile it wanted at the levels it wanted
};

class TileView {
public:
    /* An empty view (status Empty): every member accepts calls and does nothing. */
    TileView() noexcept = default;

    /*
     * A view of `source`, which must outlive it. Reads the source's levels (levelCount, levelSize) and
     * starts the workers, which begin at once on the one-tile level. Empty (operator bool false, status()
     * says why) without a library instance, with levels that make no sense, when the source throws, or
     * out of memory.
     * OpenGL: context current (an Image is made to check the instance).
     */
    explicit TileView(TileSource& source, const TileViewOptions& options = {}) noexcept {
        try {
            Image probe(1, 1);  // no instance: no image, and no view
            if (!probe) {
                status_ = TileViewStatus::NoLibrary;
                return;
            }
            std::vector<TileSize> levels;
            status_ = TileViewStatus::SourceFailed;
            levels.resize(std::min(source.levelCount(), detail::kMaxLevels + 1));
            for (std::size_t k = 0; k < levels.size(); ++k) levels[k] = source.levelSize(k);
            const SampleLayout layout = source.sampleLayout();
            status_ = TileViewStatus::OutOfMemory;
            if (!detail::levelsMakeSense(levels)) {
                status_ = TileViewStatus::BadLevels;
                return;
            }
            if (checkLayout(layout) != nullptr) {
                status_ = TileViewStatus::BadSamples;
                return;
            }
            std::unique_ptr<State> state(new State(source, levels, options, layout));
            state->probe = std::move(probe);
            unsigned workers = options.workers;
            if (workers == 0) workers = std::clamp(std::thread::hardware_concurrency(), 4u, 8u);
            // No more workers than tiles may be held at once: more would only wait.
            workers = std::min(workers, static_cast<unsigned>(detail::TileReader::kHeldTiles));
            if (!state->reader.start(source, options.readOnDrawingThread ? 0 : workers, layout)) return;
            state->requestPinned();
            state_ = std::move(state);
            status_ = TileViewStatus::Ready;
        } catch (const std::bad_alloc&) {
            status_ = TileViewStatus::OutOfMemory;
        } catch (...) {  // the source threw: status_ says where
        }
    }

    /* Cancels the reads under way and waits for them to return; releases the textures.
     * OpenGL: the context that owns the textures current. */
    ~TileView() = default;
    TileView(TileView&& other) noexcept
        : state_(std::move(other.state_)), status_(std::exchange(other.status_, TileViewStatus::Empty)) {}
    TileView& operator=(TileView&& other) noexcept {
        if (this != &other) {
            state_ = std::move(other.state_);
            status_ = std::exchange(other.status_, TileViewStatus::Empty);
        }
        return *this;
    }
    TileView(const TileView&) = delete;
    TileView& operator=(const TileView&) = delete;

    /* True when the view can draw: status() is Ready. */
    explicit operator bool() const noexcept { return status() == TileViewStatus::Ready; }
    /* Why the view is empty, or Ready. */
    TileViewStatus status() const noexcept {
        if (state_ && !state_->probe) return TileViewStatus::LibraryGone;
        return status_;
    }
    /* Level 0's size in pixels; 0 when empty. */
    std::uint32_t width() const noexcept { return state_ ? state_->grid.full().width : 0; }
    std::uint32_t height() const noexcept { return state_ ? state_->grid.full().height : 0; }

    /* Places the picture by its centre (as Image::place): units of the caller's projection, degrees,
     * opacity 0 to 255. Takes effect at the next draw. Cost: nothing. */
    void place(const Placement& placement) noexcept {
        if (state_) state_->placement = placement;
    }

    /* A new texture budget in bytes; the next draw evicts down to it. */
    void setBudget(std::size_t budgetBytes) noexcept {
        if (!live()) return;
        state_->options.budgetBytes = budgetBytes;
        try {
            state_->cache.choosePinned(budgetBytes);
        } catch (...) {  // std::bad_alloc: the pinned level stays as it was
        }
    }

    /*
     * Draws the picture into the current matrix, `frame` being the visible rectangle in the caller's
     * units and its screen pixels per unit. Uploads what has been read (up to uploadBytesPerFrame), draws,
     * then asks for what the frame still lacks, most urgent first, cancelling reads no longer wanted.
     * Nothing for an empty view. OpenGL: context current; state left as ZelvanDraw leaves it.
     * Cost: one Zelvan draw per part of a tile drawn (a few hundred for a full-screen frame).
     */
    void draw(const Frame& frame) noexcept {
        if (!live()) return;
        try {
            state_->draw(frame);
        } catch (...) {  // std::bad_alloc: this frame draws less; the next tries again
        }
    }

    /* True once the one-tile level is resident: from then on no frame shows a hole (for levels that never
     * shrink to one tile: once a frame was complete). False for an empty view. */
    bool ready() const noexcept { return state_ && state_->probe && state_->ready(); }

    /* Waits, at most `timeout`, for the one-tile level, uploading it as it comes (reading it here with
     * readOnDrawingThread). True when ready. OpenGL: context current. Cost: the reads of that level. */
    bool waitUntilReady(std::chrono::milliseconds timeout) noexcept {
        if (!live()) return false;
        try {
            return state_->waitUntilReady(timeout);
        } catch (...) {  // std::bad_alloc
            return false;
        }
    }

    /* Marks level-0 pixels (x, y) to (x + width, y + height) changed: the tiles over them are read again
     * and drawn with their old pixels until the new ones are uploaded. Tiles there that were given up
     * are tried again. */
    void invalidate(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) noexcept {
        if (!live() || width == 0 || height == 0) return;
        try {
            const detail::Area area{double(x), double(y), double(x) + width, double(y) + height};
            state_->cache.invalidate(area);
            state_->raw.invalidate(state_->grid, area);
        } catch (...) {  // std::bad_alloc: the tiles are not marked; nothing else changes
        }
    }

    /* Typed pictures: raw samples kept within `bytes` from now on, least recently wanted evicted. */
    void setRawBudget(std::size_t bytes) noexcept {
        if (!state_) return;
        state_->options.rawBudgetBytes = bytes;
        state_->raw.setBudget(bytes);
    }

    /* What the source's pixels are (its own colours for an empty view). */
    SampleLayout sampleLayout() const noexcept { return state_ ? state_->layout : SampleLayout{}; }

    /*
     * Typed pictures: shows the samples through `mapping` from the next draw on. The tiles on screen are
     * made anew from their raw samples (no read while they are kept; see rawBudgetBytes), pinned and
     * coarse levels first, within uploadBytesPerFrame a draw, each drawn with its old texels until its
     * new ones are in. False, the previous mapping kept, when the mapping is invalid for the picture
     * (`reason`, if given, says why in one line), the picture has its own colours, the view is empty,
     * or out of memory. Cost: a table per changed channel (65536 entries for 16 bits, about 32000 for
     * floats), then the visible tiles' mapping, spread over the next draws.
     */
    bool setMapping(const DisplayMapping& mapping, std::string* reason = nullptr) noexcept {
        try {
            if (!live()) {
                if (reason != nullptr) *reason = describe(status());
                return false;
            }
            const std::string why = mapping.validate(state_->layout);
            if (!why.empty()) {
                if (reason != nullptr) *reason = why;
                return false;
            }
            MappingTables next;
            next.build(mapping, state_->layout, &state_->tables);
            DisplayMapping copy = mapping;
            state_->tables = std::move(next);
            state_->mapping = std::move(copy);
            ++state_->mappingNumber;
            return true;
        } catch (...) {  // std::bad_alloc: the mapping before stays
            if (reason != nullptr) *reason = "out of memory";
            return false;
        }
    }
    /* The mapping shown (the default one, defaultMapping(), until setMapping; empty for pictures of their
     * own colours and for an empty view). */
    const DisplayMapping& mapping() const noexcept {
        static const DisplayMapping none;
        return state_ ? state_->mapping : none;
    }

    /*
     * Typed pictures: a channel's histogram in `bins` bins, and its limits at two percentiles (nearest
     * rank), from the raw samples of the finest level kept whole (usually the one-tile level; else the
     * coarsest level kept in part), NaN and infinities left out. Empty, or found false, before any such
     * tile is read, for a channel the picture lacks, or out of memory. Cost: a pass over at most 4
     * million samples.
     */
    ChannelHistogram histogram(unsigned channel, unsigned bins = 256) const noexcept {
        try {
            detail::ChannelValues values;
            if (state_ != nullptr) state_->channelValues(channel, values);
            return histogramOf(values.values, values.nonFinite, bins);
        } catch (...) {  // std::bad_alloc
            return {};
        }
    }
    ChannelLimits autoLimits(unsigned channel, double lowPercent = 0.5,
                             double highPercent = 99.5) const noexcept {
        try {
            detail::ChannelValues values;
            if (state_ != nullptr) state_->channelValues(channel, values);
            return percentileLimits(values.values, lowPercent, highPercent);
        } catch (...) {  // std::bad_alloc
            return {};
        }
    }

    /* Tiles given up are tried again at the next draw, without waiting for their back-off. */
    void retryGivenUp() noexcept {
        if (live()) state_->cache.retryGivenUp();
    }

    /* Counts since construction and what the last frame drew. All zero for an empty view (and resident
     * counts zero once the library instance has ended). Cost: the given-up list is copied. */
    TileStats stats() const noexcept {
        if (!state_) return {};
        TileStats s = state_->stats;
        const detail::TileCache::Counts& c = state_->cache.counts();
        s.uploads = c.uploads;
        s.readsFailed = c.readsFailed;
        s.readsGivenUp = c.readsGivenUp;
        const detail::TileReader::Counts reads = state_->reader.counts();
        s.requests = reads.started;
        s.readsCancelled = reads.cancelled;
        s.readsPending = reads.pending;
        s.rawBytes = state_->raw.bytes();
        s.rawTiles = state_->raw.size();
        if (!state_->probe) return s;  // the library has ended: nothing resident
        s.residentBytes = state_->cache.residentBytes();
        s.tilesResident = state_->cache.size();
        s.ready = state_->ready();
        try {
            state_->cache.givenUp(s.givenUp, detail::Clock::now());
        } catch (...) {  // std::bad_alloc: the list stays empty
        }
        return s;
    }

private:
    struct Piece {
        std::uint64_t key;
        int part;
        std::uint32_t level;
        detail::PixelRect rect;  // its texels in the level
        detail::Area area;       // the level-0 pixels it covers
    };
    using Arrival = detail::TileReader::Arrival;
    using TileRequest = detail::TileRequest;

    struct State {
        State(TileSource& s, const std::vector<TileSize>& levels, const TileViewOptions& o,
              const SampleLayout& l)
            : source(&s), grid(levels), options(o), cache(grid), layout(l), raw(o.rawBudgetBytes) {
            rules.retries = o.retries;
            rules.backoff = o.retryBackoff;
            cache.choosePinned(o.budgetBytes);
            arrived.reserve(detail::TileReader::kHeldTiles);
            waiting.reserve(detail::TileReader::kHeldTiles);
            buffers.reserve(detail::TileReader::kHeldTiles);
            if (layout.type != SampleType::Bgra8) {
                mapping = defaultMapping(layout);
                tables.build(mapping, layout, nullptr);
                mappingNumber = 1;
                texels.resize(std::size_t{detail::kTileSide} * detail::kTileSide * 4);
            }
        }

        TileSource* source;
        detail::LevelGrid grid;
        TileViewOptions options;
        detail::TileCache::RetryRules rules;
        Placement placement;
        Image probe;  // names nothing once the library instance has ended
        detail::TileCache cache;
        // Typed pictures: the mapping, its number (0 for pictures of their own colours, whose tiles are
        // all of mapping 0), the raw tiles and one tile's texels.
        SampleLayout layout;
        DisplayMapping mapping;
        MappingTables tables;
        std::uint64_t mappingNumber = 0;
        detail::RawTiles raw;
        std::vector<unsigned char> texels;
        std::vector<TileRequest> remaps;
        std::size_t frameUploads = 0;                     // texture bytes made in this draw
        std::vector<Arrival> arrived, waiting;            // waiting: read, not yet uploaded
        std::size_t released = 0;                         // tiles done with, to give back
        std::vector<detail::TileReader::Buffer> buffers;  // their buffers
        std::uint64_t frameNumber = 0;
        TileStats stats;
        bool drawn = false, everComplete = false;
        // Per frame, kept to reuse their memory.
        detail::FramePlan plan;
        std::vector<TileIndex> pinned;
        std::unordered_set<std::uint64_t> wanted, asked;
        std::vector<Piece> pieces;
        std::vector<const Piece*> drawnPieces;
        std::vector<TileRequest> nextQueue;
        detail::TileReader reader;  // last: stopped before anything its reads might reach goes

        bool ready() const { return cache.pinning() ? cache.pinnedResident() : everComplete; }
        /* A resident tile that needs nothing: not invalidated, and of the mapping shown. */
        bool current(const detail::TileCache::Tile& tile) const {
            return !tile.stale && tile.mapping == mappingNumber;
        }

        void draw(const Frame& frame) {
            ++frameNumber;
            frameUploads = 0;
            const detail::Clock::time_point now = detail::Clock::now();
            if (!drawn && options.firstDrawWait.count() > 0) waitUntilReady(options.firstDrawWait);
            drawn = true;
            if (cache.residentBytes() > options.budgetBytes) cache.shrinkTo(options.budgetBytes);
            const std::size_t budget =
                options.budgetBytes > cache.pinnedBytes() ? options.budgetBytes - cache.pinnedBytes() : 0;
            // Half the budget: room for the frame before, and for coarser stand-ins.
            detail::planFrame(placement, grid, frame, budget / 2, plan);
            wantTiles();
            const detail::PictureMap map = detail::PictureMap::of(placement, grid.full());
            takeArrivals(frame, map, now);
            remapTiles(frame, map, now);
            const bool complete = drawLayers(frame);
            requestReads(frame, map, now);

            const detail::LevelChoice& choice = plan.choice;
            stats.level = choice.blend.finer;
            stats.coarserLevel = choice.blend.coarser;
            stats.scaleLevel = plan.scaleLevel;
            stats.budgetLimited = choice.limited || !choice.fits;
            stats.complete = complete && choice.fits;
            everComplete = everComplete || stats.complete;
        }

        /* The tiles this frame wants: the pinned level's, then the coarser and finer levels'. Those
         * resident are marked drawn, so that making room never evicts them. */
        void wantTiles() {
            pinned.clear();
            cache.pinnedTiles(pinned);
            wanted.clear();
            for (const auto* list : {&plan.coarse, &plan.fine, &pinned})
                for (const TileIndex& t : *list) {
                    const std::uint64_t key = detail::tileKey(t);
                    wanted.insert(key);
                    if (detail::TileCache::Tile* tile = cache.find(key)) tile->lastDrawn = frameNumber;
                    raw.touch(key, frameNumber);
                }
        }

        // ---- arrivals ----

        void release(Arrival& a) {
            ++released;
            if (a.pixels && buffers.size() < buffers.capacity()) buffers.push_back(std::move(a.pixels));
            a.pixels.reset();
        }

        /* Whether an arrival is done with: a failed read counted, a cancelled or unwanted one dropped, or
         * uploaded (adding to `uploaded`); false when it must wait for room or for the next frame's share. */
        bool takeArrival(Arrival& a, std::size_t& uploaded, std::size_t share,
                         detail::Clock::time_point now) {
            if (!a.ok) {
                if (a.cancelled) return true;  // no failure: nobody wanted it any more
                // A read started before an invalidation of its tile read old pixels: it does not count
                // against the tile's retries, which the fresh request starts again.
                if (cache.invalidatedSince(a.request))
                    cache.failedStale();
                else
                    cache.failed(detail::tileKey(a.request.tile), now, a.retryAfterMs, rules);
                return true;
            }
            if (wanted.count(detail::tileKey(a.request.tile)) == 0) return true;
            const std::size_t bytes = detail::tileBytes(grid, a.request.tile);
            if (uploaded > 0 && uploaded + bytes > share) return false;
            const unsigned char* pixels = a.pixels.get();
            if (mappingNumber != 0) pixels = mapped(a.request.rect, pixels);
            if (!cache.upload(a.request, pixels, options.budgetBytes, frameNumber, now, rules, mappingNumber))
                return false;
            uploaded += bytes;
            if (mappingNumber != 0 && !cache.invalidatedSince(a.request)) keepRaw(a);
            return true;
        }

        /* A typed tile's texels, in `texels`, through the mapping shown. */
        const unsigned char* mapped(const detail::PixelRect& rect, const unsigned char* samples) {
            tables.apply(samples, std::size_t{rect.width} * pixelBytes(layout), rect.width, rect.height,
                         texels.data(), std::size_t{rect.width} * 4);
            return texels.data();
        }

        /* Keeps an arrival's samples: its buffer when the tile fills most of it (the reader makes a new
         * one), else a copy of the tile's size. Out of memory, it is not kept (and read again if need be). */
        void keepRaw(Arrival& a) noexcept {
            try {
                const std::uint64_t key = detail::tileKey(a.request.tile);
                const std::size_t bytes =
                    std::size_t{a.request.rect.width} * a.request.rect.height * pixelBytes(layout);
                if (bytes * 2 > reader.bufferBytes()) {
                    raw.keep(key, a.pixels, reader.bufferBytes(), frameNumber);
                    return;
                }
                detail::RawTiles::Buffer copy(new (std::nothrow) unsigned char[bytes]);
                if (!copy) return;
                std::copy(a.pixels.get(), a.pixels.get() + bytes, copy.get());
                raw.keep(key, copy, bytes, frameNumber);
            } catch (...) {  // std::bad_alloc: the arrival keeps its buffer
            }
        }

        /* Typed pictures: the wanted tiles kept raw whose texels are of an older mapping, or gone, made
         * from their samples, most urgent first (the pinned level, then coarse before fine, near the
         * centre first), within what is left of this draw's upload share (at least one tile a draw). */
        void remapTiles(const Frame& frame, const detail::PictureMap& map, detail::Clock::time_point now) {
            if (mappingNumber == 0 || raw.size() == 0) return;
            remaps.clear();
            for (const auto* list : {&pinned, &plan.coarse, &plan.fine})
                for (const TileIndex& t : *list) {
                    const std::uint64_t key = detail::tileKey(t);
                    const detail::TileCache::Tile* tile = cache.find(key);
                    if (!raw.has(key) || (tile != nullptr && (tile->stale || current(*tile)))) continue;
                    remaps.push_back({t, grid.tileRect(t), cache.epoch(), list == &pinned,
                                      detail::distanceToCentre(map, grid, t, frame)});
                }
            std::sort(remaps.begin(), remaps.end(),
                      [](const TileRequest& a, const TileRequest& b) { return detail::moreUrgent(a, b); });
            std::uint64_t last = ~std::uint64_t{0};
            for (const TileRequest& r : remaps) {
                const std::uint64_t key = detail::tileKey(r.tile);
                if (key == last) continue;  // the pinned level's tiles may be listed twice
                last = key;
                const std::size_t bytes = detail::tileBytes(grid, r.tile);
                if (frameUploads > 0 && frameUploads + bytes > options.uploadBytesPerFrame) break;
                const detail::RawTiles::Tile* samples = raw.find(key);
                if (!cache.upload(r, mapped(r.rect, samples->samples.get()), options.budgetBytes, frameNumber,
                                  now, rules, mappingNumber, true))
                    continue;
                frameUploads += bytes;
            }
        }

        /* The finite samples of `channel` (at most about 4 million) from the finest level kept raw whole,
         * else the coarsest kept in part. */
        void channelValues(unsigned channel, detail::ChannelValues& out) const {
            if (mappingNumber == 0 || channel >= layout.channels || raw.size() == 0) return;
            std::vector<std::size_t> tiles(grid.count(), 0);
            raw.forEach([&](std::uint64_t key, const detail::RawTiles::Tile&) {
                ++tiles[detail::tileOfKey(key).level];
            });
            std::size_t level = grid.count();
            for (std::size_t k = 0; k < grid.count() && level == grid.count(); ++k) {
                const TileSize s = grid.size(k);
                if (tiles[k] == std::size_t{detail::tilesAcross(s.width)} * detail::tilesAcross(s.height))
                    level = k;
            }
            for (std::size_t k = grid.count(); k-- > 0 && level == grid.count();)
                if (tiles[k] != 0) level = k;
            std::uint64_t pixels = 0;
            raw.forEach([&](std::uint64_t key, const detail::RawTiles::Tile&) {
                const TileIndex t = detail::tileOfKey(key);
                const detail::PixelRect r = grid.tileRect(t);
                if (t.level == level) pixels += std::uint64_t{r.width} * r.height;
            });
            const std::size_t step = static_cast<std::size_t>(pixels / (std::uint64_t{1} << 22) + 1);
            out.values.reserve(static_cast<std::size_t>(pixels / step + 1));
            raw.forEach([&](std::uint64_t key, const detail::RawTiles::Tile& tile) {
                const TileIndex t = detail::tileOfKey(key);
                const detail::PixelRect r = grid.tileRect(t);
                if (t.level == level)
                    out.add(tile.samples.get(), layout, channel, std::size_t{r.width} * r.height, step);
            });
        }

        /* Uploads what has come, most urgent first, within `share` bytes; what finds no room or exceeds
         * the share waits (if still wanted). */
        void uploadArrivals(const Frame& frame, const detail::PictureMap& map, std::size_t share,
                            detail::Clock::time_point now) {
            for (Arrival& a : arrived)
                if (waiting.size() < waiting.capacity())
                    waiting.push_back(std::move(a));
                else
                    release(a);
            arrived.clear();
            for (Arrival& a : waiting)
                a.request.distance = detail::distanceToCentre(map, grid, a.request.tile, frame);
            std::sort(waiting.begin(), waiting.end(), [](const Arrival& a, const Arrival& b) {
                return detail::moreUrgent(a.request, b.request);
            });
            std::size_t uploaded = 0;
            for (Arrival& a : waiting) {
                a.done =
                    takeArrival(a, uploaded, share, now);  // throws (std::bad_alloc) with `waiting` intact
                if (a.done) release(a);
            }
            waiting.erase(
                std::remove_if(waiting.begin(), waiting.end(), [](const Arrival& a) { return a.done; }),
                waiting.end());
            frameUploads += uploaded;
        }

        void takeArrivals(const Frame& frame, const detail::PictureMap& map, detail::Clock::time_point now) {
            reader.collect(arrived);
            uploadArrivals(frame, map, options.uploadBytesPerFrame, now);
            if (reader.threaded()) return;
            // No worker (asked for, or none could start): read here, within this frame's share but at
            // least one tile, as uploads are.
            std::size_t read = 0;
            Arrival a;
            while ((read == 0 || read < options.uploadBytesPerFrame) && reader.readOne(a)) {
                read += std::size_t{a.request.rect.width} * a.request.rect.height * 4;
                arrived.push_back(std::move(a));
            }
            uploadArrivals(frame, map, options.uploadBytesPerFrame, now);
        }

        // ---- reading ----

        void addRequests(const std::vector<TileIndex>& list, bool isPinned, const Frame& f,
                         const detail::PictureMap& map, detail::Clock::time_point now) {
            for (const TileIndex& t : list) {
                const std::uint64_t key = detail::tileKey(t);
                const detail::TileCache::Tile* tile = cache.find(key);
                // Typed tiles kept raw are made from their samples (remapTiles), not read.
                if ((tile != nullptr && current(*tile)) || raw.has(key) || !cache.mayRead(key, now)) continue;
                if (!asked.insert(key).second) continue;  // read and waiting, or asked for already
                nextQueue.push_back({t, grid.tileRect(t), cache.epoch(), isPinned,
                                     detail::distanceToCentre(map, grid, t, f)});
            }
        }

        /* What to read next: the pinned level, then coarse before fine, nearest the centre first. */
        void requestReads(const Frame& frame, const detail::PictureMap& map, detail::Clock::time_point now) {
            nextQueue.clear();
            asked.clear();
            for (const Arrival& a : waiting) asked.insert(detail::tileKey(a.request.tile));
            addRequests(pinned, true, frame, map, now);
            addRequests(plan.coarse, false, frame, map, now);
            addRequests(plan.fine, false, frame, map, now);
            std::sort(nextQueue.begin(), nextQueue.end(),
                      [](const TileRequest& a, const TileRequest& b) { return detail::moreUrgent(b, a); });
            reader.setQueue(nextQueue, wanted, released, buffers);
            released = 0;
            if (reader.idle()) cache.forgetInvalidations();
        }

        /* Asks for the pinned level alone: at construction, and when waiting for it. */
        void requestPinned() {
            pinned.clear();
            cache.pinnedTiles(pinned);
            for (const TileIndex& t : pinned) wanted.insert(detail::tileKey(t));
            nextQueue.clear();
            asked.clear();
            for (const Arrival& a : waiting) asked.insert(detail::tileKey(a.request.tile));
            const Frame none{};
            addRequests(pinned, true, none, detail::PictureMap::of(placement, grid.full()),
                        detail::Clock::now());
            std::sort(nextQueue.begin(), nextQueue.end(),
                      [](const TileRequest& a, const TileRequest& b) { return detail::moreUrgent(b, a); });
            reader.setQueue(nextQueue, wanted, released, buffers);
            released = 0;
        }

        bool waitUntilReady(std::chrono::milliseconds timeout) {
            if (!cache.pinning()) return ready();  // nothing to wait for but frames
            const auto deadline = detail::Clock::now() + timeout;
            requestPinned();
            const Frame none{};
            const detail::PictureMap map = detail::PictureMap::of(placement, grid.full());
            for (;;) {
                reader.collect(arrived);
                uploadArrivals(none, map, SIZE_MAX, detail::Clock::now());
                if (ready()) return true;
                if (detail::Clock::now() >= deadline) return false;
                if (reader.threaded()) {
                    reader.waitForArrival(deadline);
                } else {
                    Arrival a;
                    if (!reader.readOne(a)) {
                        requestPinned();  // what failed may be asked for again
                        if (!reader.readOne(a)) return false;
                    }
                    arrived.push_back(std::move(a));
                }
            }
        }

        // ---- drawing ----

        /* The tiles of `level` under a level-0 area: columns c0..c1, rows r0..r1. */
        struct TileRange {
            std::uint32_t c0, c1, r0, r1;
            std::uint64_t count() const { return std::uint64_t{c1 - c0 + 1} * (r1 - r0 + 1); }
        };
        TileRange tilesUnder(std::uint32_t level, const detail::Area& a) const {
            const double sx = grid.across(level).factor * detail::kTileSide,
                         sy = grid.down(level).factor * detail::kTileSide;
            const auto cell = [](double at, std::uint32_t n) {
                return static_cast<std::uint32_t>(std::clamp(std::floor(at), 0.0, n - 1.0));
            };
            const std::uint32_t columns = detail::tilesAcross(grid.size(level).width);
            const std::uint32_t rows = detail::tilesAcross(grid.size(level).height);
            return {cell(a.u0 / sx, columns), cell(std::nextafter(a.u1 / sx, 0.0), columns),
                    cell(a.v0 / sy, rows), cell(std::nextafter(a.v1 / sy, 0.0), rows)};
        }
        /* Whether the tiles of `level` under an area are resident (or, if `wantedOnly`, those of them this
         * frame wants). */
        bool residentUnder(std::uint32_t level, const detail::Area& a, bool wantedOnly = false) {
            const TileRange r = tilesUnder(level, a);
            if (r.count() > 16) return false;
            for (std::uint32_t row = r.r0; row <= r.r1; ++row)
                for (std::uint32_t col = r.c0; col <= r.c1; ++col) {
                    const std::uint64_t key = detail::tileKey({level, col, row});
                    if (cache.find(key) == nullptr && (!wantedOnly || wanted.count(key) != 0)) return false;
                }
            return true;
        }

        /* The parts of a resident tile that meet a level-0 area. */
        void addParts(const TileIndex& t, const detail::Area& within) {
            const detail::TileParts parts = detail::tileParts(grid, t);
            for (int i = 0; i < parts.count; ++i) {
                const detail::Area a = grid.area(t.level, parts.rect[i]);
                if (a.meets(within)) pieces.push_back({detail::tileKey(t), i, t.level, parts.rect[i], a});
            }
        }

        /* A missing tile drawn from the nearest resident level that covers it: coarser levels first, the
         * pinned level last (finer, when the frame wants a level coarser than it). */
        void addFallback(const TileIndex& t) {
            const detail::Area area = grid.tileArea(t);
            const auto cover = [&](std::uint32_t level) {
                if (!residentUnder(level, area)) return false;
                const TileRange range = tilesUnder(level, area);
                for (std::uint32_t row = range.r0; row <= range.r1; ++row)
                    for (std::uint32_t col = range.c0; col <= range.c1; ++col)
                        addParts({level, col, row}, area);
                return true;
            };
            for (auto level = t.level + 1; level < grid.count(); ++level)
                if (cover(level)) return;
            if (cache.pinning() && cache.pinnedLevel() < t.level)
                cover(static_cast<std::uint32_t>(cache.pinnedLevel()));
        }

        /* Draws a piece at `alpha`, moved shiftX and shiftY units along the axes of the picture's turned
         * frame; an opaque one reaches over its right and bottom neighbours (see overlapUnits). */
        void drawPiece(const Piece& p, std::uint8_t alpha, float shiftX, float shiftY, double pixelsPerUnit) {
            detail::TileCache::Tile* tile = cache.find(p.key);
            if (tile == nullptr) return;
            const TileSize full = grid.full();
            Placement at = detail::partPlacement(placement, full, p.area, p.rect, alpha);
            if (alpha == 255) {
                const double w = std::fabs(at.scaleX) * p.rect.width,
                             h = std::fabs(at.scaleY) * p.rect.height;
                const double reach = detail::overlapUnits(at, w, h, pixelsPerUnit);
                const double sx = std::fabs(static_cast<float>(placement.scaleX)),
                             sy = std::fabs(static_cast<float>(placement.scaleY));
                detail::Area a = p.area;
                if (a.u1 < full.width && sx > 0) a.u1 = std::min<double>(a.u1 + reach / sx, full.width);
                if (a.v1 < full.height && sy > 0) a.v1 = std::min<double>(a.v1 + reach / sy, full.height);
                at = detail::partPlacement(placement, full, a, p.rect, alpha);
            }
            Image& image = tile->parts[p.part];
            image.place(at);
            if (shiftX != 0 || shiftY != 0)
                detail::translateShifted(image.handle(), at, p.rect.width, p.rect.height, shiftX, shiftY);
            image.draw();
            tile->lastDrawn = frameNumber;
        }

        /* The frame: the coarser level (and stand-ins for its missing tiles, coarsest first) opaque, the
         * finer over it at its opacity. True when nothing was missing. */
        bool drawLayers(const Frame& frame) {
            const detail::LevelBlend& blend = plan.choice.blend;
            const auto finer = static_cast<std::uint32_t>(blend.finer);
            const auto coarser = static_cast<std::uint32_t>(blend.coarser);
            bool complete = cache.pinnedResident();
            pieces.clear();
            for (const TileIndex& t : plan.coarse) {
                const detail::TileCache::Tile* tile = cache.find(detail::tileKey(t));
                if (tile != nullptr) {
                    addParts(t, {0, 0, HUGE_VAL, HUGE_VAL});
                    complete = complete && current(*tile);
                } else {
                    addFallback(t);
                    complete = false;
                }
            }
            // Coarser levels first, then row by row: each piece reaches over its right and bottom
            // neighbours, which are drawn after it.
            std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
                if (a.level != b.level) return a.level > b.level;
                if (a.area.v0 != b.area.v0) return a.area.v0 < b.area.v0;
                if (a.area.u0 != b.area.u0) return a.area.u0 < b.area.u0;
                return std::make_pair(a.key, a.part) < std::make_pair(b.key, b.part);
            });
            pieces.erase(std::unique(pieces.begin(), pieces.end(),
                                     [](const Piece& a, const Piece& b) {
                                         return a.key == b.key && a.part == b.part;
                                     }),
                         pieces.end());
            // Passes as Pyramid draws its levels (detail::blendPasses), the first coarser one the base;
            // where the finer level is missing, the coarser alone at the placement's opacity.
            const std::uint8_t alpha = placement.alpha;
            const detail::BlendPasses passes = detail::blendPasses(blend, alpha / 255.0, frame.pixelsPerUnit);
            const auto opacityOf = [alpha](double fraction) {
                return static_cast<std::uint8_t>(std::lround(alpha * std::clamp(fraction, 0.0, 1.0)));
            };
            const std::uint8_t under = opacityOf(passes.pass[0].opacity);
            drawnPieces.clear();
            for (const Piece& p : pieces) {
                // Translucent: a piece that a coarser one already covers would blend twice.
                const auto covers = [&](const Piece* c) {
                    const detail::Area grown{c->area.u0 - 1e-6, c->area.v0 - 1e-6, c->area.u1 + 1e-6,
                                             c->area.v1 + 1e-6};
                    return c->level > p.level && grown.covers(p.area);
                };
                if (alpha < 255 && std::any_of(drawnPieces.begin(), drawnPieces.end(), covers)) continue;
                const bool beneath =
                    finer != coarser && p.level == coarser && residentUnder(finer, p.area, true);
                if (beneath && under == 0) continue;
                drawPiece(p, beneath ? under : alpha, 0, 0, frame.pixelsPerUnit);
                drawnPieces.push_back(&p);
            }
            // The finer level's passes, each whole before the next, so that no piece blends over a
            // neighbour of its own pass.
            pieces.clear();
            for (const TileIndex& t : plan.fine) {
                const detail::TileCache::Tile* tile = cache.find(detail::tileKey(t));
                if (tile == nullptr) {
                    complete = false;
                    continue;
                }
                complete = complete && current(*tile);
                addParts(t, {0, 0, HUGE_VAL, HUGE_VAL});
            }
            std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
                return a.area.v0 != b.area.v0 ? a.area.v0 < b.area.v0 : a.area.u0 < b.area.u0;
            });
            for (const detail::BlendPass& pass : passes)
                if (!pass.coarser && opacityOf(pass.opacity) != 0)
                    for (const Piece& p : pieces)
                        drawPiece(p, opacityOf(pass.opacity), pass.shiftX, pass.shiftY, frame.pixelsPerUnit);
            return complete;
        }
    };

    /* Whether the view can act: made, and its library instance still there. Once the instance has
     * ended, the textures are forgotten (the instance took them) and reads stop. */
    bool live() noexcept {
        if (!state_) return false;
        if (state_->probe) return true;
        if (state_->cache.size() != 0 || state_->reader.pending() != 0) {
            state_->cache.clear();
            std::vector<TileRequest> none;
            const std::unordered_set<std::uint64_t> keep;
            state_->reader.setQueue(none, keep, state_->released, state_->buffers);
            state_->released = 0;
        }
        return false;
    }

    std::unique_ptr<State> state_;
    TileViewStatus status_ = TileViewStatus::Empty;
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_HPP */
