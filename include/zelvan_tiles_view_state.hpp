/*
 * Zelvan for C++: the inside of a tile view (zelvan_tiles.hpp), what one frame does: plans the levels and
 * tiles it wants, takes the tiles read, uploads and re-maps them within the frame's allowance, draws
 * them, finer over coarser, and asks for what is still missing. Not for use on its own.
 *
 * Header-only C++17.
 */
#ifndef ZELVAN_TILES_VIEW_STATE_HPP
#define ZELVAN_TILES_VIEW_STATE_HPP

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
#include "zelvan_tiles_options.hpp"
#include "zelvan_tiles_plan.hpp"
#include "zelvan_tiles_raw.hpp"
#include "zelvan_tiles_reader.hpp"
#include "zelvan_tiles_source.hpp"

namespace zelvan {
namespace detail {

struct ViewState {
    struct Piece {
        std::uint64_t key;
        int part;
        std::uint32_t level;
        detail::PixelRect rect;  // its texels in the level
        detail::Area area;       // the level-0 pixels it covers
    };
    using Arrival = detail::TileReader::Arrival;
    using TileRequest = detail::TileRequest;

    ViewState(TileSource& s, const std::vector<TileSize>& levels, const TileViewOptions& o,
              const SampleLayout& l)
        : source(&s), grid(levels), options(o), cache(grid), layout(l), raw(o.rawBudgetBytes) {
        rules.retries = o.retries;
        rules.backoff = o.retryBackoff;
        choosePinned();
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
    /* The level kept resident within the budget, or none when the options want no stand-ins. */
    void choosePinned() { cache.choosePinned(options.standIns ? options.budgetBytes : 0); }
    /* Whether the frame's coarser level is read: always when it is the level shown; when it only
     * stands in where the finer one is missing, as the options say. */
    bool readsCoarser() const {
        return options.standIns || plan.choice.blend.finer == plan.choice.blend.coarser;
    }
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
        for (const auto* list : {&plan.coarse, &plan.fine, &pinned}) {
            if (list == &plan.coarse && !readsCoarser()) continue;
            for (const TileIndex& t : *list) {
                const std::uint64_t key = detail::tileKey(t);
                wanted.insert(key);
                if (detail::TileCache::Tile* tile = cache.find(key)) tile->lastDrawn = frameNumber;
                raw.touch(key, frameNumber);
            }
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
    bool takeArrival(Arrival& a, std::size_t& uploaded, std::size_t share, detail::Clock::time_point now) {
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
        raw.forEach(
            [&](std::uint64_t key, const detail::RawTiles::Tile&) { ++tiles[detail::tileOfKey(key).level]; });
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
            a.done = takeArrival(a, uploaded, share, now);  // throws (std::bad_alloc) with `waiting` intact
            if (a.done) release(a);
        }
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(), [](const Arrival& a) { return a.done; }),
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
            nextQueue.push_back(
                {t, grid.tileRect(t), cache.epoch(), isPinned, detail::distanceToCentre(map, grid, t, f)});
        }
    }

    /* What to read next: the pinned level, then coarse before fine, nearest the centre first. */
    void requestReads(const Frame& frame, const detail::PictureMap& map, detail::Clock::time_point now) {
        nextQueue.clear();
        asked.clear();
        for (const Arrival& a : waiting) asked.insert(detail::tileKey(a.request.tile));
        addRequests(pinned, true, frame, map, now);
        if (readsCoarser()) addRequests(plan.coarse, false, frame, map, now);
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
        addRequests(pinned, true, none, detail::PictureMap::of(placement, grid.full()), detail::Clock::now());
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
                for (std::uint32_t col = range.c0; col <= range.c1; ++col) addParts({level, col, row}, area);
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
            const double w = std::fabs(at.scaleX) * p.rect.width, h = std::fabs(at.scaleY) * p.rect.height;
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
        const bool coarserCounts = readsCoarser();  // else the finer level alone makes the frame whole
        pieces.clear();
        for (const TileIndex& t : plan.coarse) {
            const detail::TileCache::Tile* tile = cache.find(detail::tileKey(t));
            if (tile != nullptr) {
                addParts(t, {0, 0, HUGE_VAL, HUGE_VAL});
                complete = complete && (current(*tile) || !coarserCounts);
            } else {
                addFallback(t);
                complete = complete && !coarserCounts;
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
        pieces.erase(
            std::unique(pieces.begin(), pieces.end(),
                        [](const Piece& a, const Piece& b) { return a.key == b.key && a.part == b.part; }),
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
            const bool beneath = finer != coarser && p.level == coarser && residentUnder(finer, p.area, true);
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

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_VIEW_STATE_HPP */
