/*
 * The tile view's intake: the tiles read, taken from the reader (zelvan_tiles_reader.hpp) most urgent
 * first, made texels (through the display mapping, for typed pictures) and uploaded within a share of
 * bytes; typed tiles kept raw and made anew when the mapping changes; and the reads a frame still lacks,
 * asked for. A read tile goes back to the reader (its buffer to the spare ones) the moment it is done
 * with: uploaded, failed, cancelled or no longer wanted.
 */
#ifndef ZELVAN_TILES_ARRIVALS_HPP
#define ZELVAN_TILES_ARRIVALS_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan_mapping.hpp"
#include "zelvan_mapping_tables.hpp"
#include "zelvan_tiles_cache.hpp"
#include "zelvan_tiles_grid.hpp"
#include "zelvan_tiles_options.hpp"
#include "zelvan_tiles_plan.hpp"
#include "zelvan_tiles_raw.hpp"
#include "zelvan_tiles_reader.hpp"

namespace zelvan {
namespace detail {

/* What a frame wants, as the intake sees it: the pinned level's tiles, the coarser level's and the finer
 * level's, where they lie, whether the coarser level is read (else its tiles are only re-mapped), and
 * every tile this view wants and, in a picture shared by views, those the others want (reads under way of
 * any other tile are cancelled). */
struct FrameWants {
    const Frame& frame;
    PictureMap map;
    Clock::time_point now;
    std::uint64_t frameNumber;
    const std::vector<TileIndex>& pinned;
    const std::vector<TileIndex>& coarse;
    const std::vector<TileIndex>& fine;
    bool readsCoarse;
    const std::unordered_set<std::uint64_t>& wanted;
    const std::unordered_set<std::uint64_t>* othersWant = nullptr;

    bool wants(std::uint64_t key) const {
        return wanted.count(key) != 0 || (othersWant && othersWant->count(key));
    }
};

class TileArrivals {
public:
    using Arrival = TileReader::Arrival;
    /* Draws a tile read may wait for room before it is dropped (and read again when wanted): held, it
     * keeps a worker of the scene from reading for any view. */
    static constexpr unsigned kLongestWait = 60;

    /* `options` is the picture's, read at each call (its budget may change); raw tiles are kept within
     * `rawBudget`, which must outlive them. Throws std::bad_alloc. */
    TileArrivals(const LevelGrid& grid, TileCache& cache, const TileViewOptions& options,
                 const SampleLayout& layout, RawBudget& rawBudget)
        : grid_(grid), cache_(cache), options_(options), layout_(layout), raw_(rawBudget) {
        rules_.retries = options.retries;
        rules_.backoff = options.retryBackoff;
        waiting_.reserve(TileReader::kHeldTiles);
        if (layout.type != SampleType::Bgra8) {
            mapping_ = defaultMapping(layout);
            tables_.build(mapping_, layout, nullptr);
            mappingNumber_ = 1;
            texels_.resize(std::size_t{kTileSide} * kTileSide * 4);
        }
    }

    TileReader& reader() noexcept { return reader_; }
    RawTiles& raw() noexcept { return raw_; }
    const RawTiles& raw() const noexcept { return raw_; }
    const SampleLayout& layout() const noexcept { return layout_; }
    const DisplayMapping& mapping() const noexcept { return mapping_; }
    /* The mapping's number: 0 for pictures of their own colours, whose tiles are all of mapping 0. */
    std::uint64_t mappingNumber() const noexcept { return mappingNumber_; }

    /* A new mapping shown from the next frame on; false, the old one kept, when it is invalid (`reason`
     * says why). Throws std::bad_alloc, the old mapping kept. */
    bool setMapping(const DisplayMapping& mapping, std::string* reason) {
        const std::string why = mapping.validate(layout_);
        if (!why.empty()) {
            if (reason != nullptr) *reason = why;
            return false;
        }
        MappingTables next;
        next.build(mapping, layout_, &tables_);
        DisplayMapping copy = mapping;
        tables_ = std::move(next);
        mapping_ = std::move(copy);
        ++mappingNumber_;
        return true;
    }

    /* Takes what was read and uploads it, most urgent first, within `share` bytes (at least one tile);
     * without workers, reads here first, within the share too. What finds no room, or exceeds the share,
     * waits for the next call. Returns the bytes uploaded. Throws std::bad_alloc. */
    std::size_t take(const FrameWants& w, std::size_t share) {
        reader_.collect(waiting_);
        std::size_t uploaded = 0;
        upload(w, uploaded, share);
        if (reader_.threaded()) return uploaded;
        std::size_t read = 0;
        Arrival a;
        while ((read == 0 || read < share) && waiting_.size() < waiting_.capacity() && reader_.readOne(a)) {
            read += std::size_t{a.request.rect.width} * a.request.rect.height * 4;
            waiting_.push_back(std::move(a));
        }
        upload(w, uploaded, share);
        return uploaded;
    }

    /* Typed pictures: the wanted tiles kept raw whose texels are of an older mapping, or gone, made from
     * their samples, most urgent first, within what `share` leaves after `uploaded` (at least one tile).
     * Returns the bytes uploaded. Throws std::bad_alloc. */
    std::size_t remap(const FrameWants& w, std::size_t uploaded, std::size_t share) {
        if (mappingNumber_ == 0 || raw_.size() == 0) return 0;
        requests_.clear();
        for (const auto* list : {&w.pinned, &w.coarse, &w.fine})
            for (const TileIndex& t : *list) {
                const std::uint64_t key = tileKey(t);
                const TileCache::Tile* tile = cache_.find(key);
                if (!raw_.has(key) || (tile != nullptr && (tile->stale || current(*tile)))) continue;
                requests_.push_back(request(w, t, list == &w.pinned, shows(w, *list)));
            }
        std::sort(requests_.begin(), requests_.end(), moreUrgent);
        const std::size_t before = uploaded;
        std::uint64_t last = ~std::uint64_t{0};
        for (const TileRequest& r : requests_) {
            const std::uint64_t key = tileKey(r.tile);
            if (key == last) continue;  // the pinned level's tiles may be listed twice
            last = key;
            const std::size_t bytes = tileBytes(grid_, r.tile);
            if (uploaded > 0 && uploaded + bytes > share) break;
            if (cache_.upload(r, mapped(r.rect, raw_.find(key)->samples.get()), options_.budgetBytes,
                              w.frameNumber, w.now, rules_, mappingNumber_, true))
                uploaded += bytes;
        }
        return uploaded - before;
    }

    /* What the frame lacks, appended to `out`: the pinned level, then coarse before fine (their order is
     * moreUrgent's; queue() sorts). Throws std::bad_alloc. */
    void ask(const FrameWants& w, std::vector<TileRequest>& out) {
        asked_.clear();
        for (const Arrival& a : waiting_) asked_.insert(tileKey(a.request.tile));
        addRequests(w, w.pinned, true, out);
        if (w.readsCoarse) addRequests(w, w.coarse, false, out);
        addRequests(w, w.fine, false, out);
    }
    /* Makes `requests` the reader's queue, most urgent read first, and cancels the reads under way of
     * tiles `keep` lacks. */
    void queue(std::vector<TileRequest>& requests, const std::unordered_set<std::uint64_t>& keep) {
        // Asked for by a view in an earlier draw, and come since (another view's draw took it).
        const auto come = [this](const TileRequest& r) {
            const std::uint64_t key = tileKey(r.tile);
            const TileCache::Tile* tile = cache_.find(key);
            return (tile != nullptr && current(*tile)) || raw_.has(key) ||
                   std::any_of(waiting_.begin(), waiting_.end(),
                               [key](const Arrival& a) { return tileKey(a.request.tile) == key; });
        };
        requests.erase(std::remove_if(requests.begin(), requests.end(), come), requests.end());
        std::sort(requests.begin(), requests.end(),
                  [](const TileRequest& a, const TileRequest& b) { return moreUrgent(b, a); });
        reader_.setQueue(requests, keep);
        if (reader_.idle()) cache_.forgetInvalidations();
    }

    /* Nothing more read: the tiles waiting go back, the queue is emptied and the reads under way are
     * cancelled (the library instance has ended). */
    void stop() noexcept {
        for (Arrival& a : waiting_) reader_.giveBack(a);
        waiting_.clear();
        requests_.clear();
        reader_.setQueue(requests_, {});
    }

private:
    /* Whether a list holds the level the frame shows: the finer, or the coarser when drawn alone. */
    static bool shows(const FrameWants& w, const std::vector<TileIndex>& list) noexcept {
        return &list == &w.fine || (&list == &w.coarse && w.fine.empty());
    }
    bool current(const TileCache::Tile& tile) const noexcept {
        return !tile.stale && tile.mapping == mappingNumber_;
    }
    /* `shown`: of the level the frame shows (its finer, or its one level), not of a stand-in. */
    TileRequest request(const FrameWants& w, const TileIndex& t, bool pinned, bool shown = false) const {
        const double d = distanceToCentre(w.map, grid_, t, w.frame);
        return {t,
                grid_.tileRect(t),
                cache_.epoch(),
                pinned,
                d,
                std::uint8_t(shown),
                screenShare(w.map, grid_, t.level, w.frame, d)};
    }

    void addRequests(const FrameWants& w, const std::vector<TileIndex>& list, bool pinned,
                     std::vector<TileRequest>& out) {
        for (const TileIndex& t : list) {
            const std::uint64_t key = tileKey(t);
            const TileCache::Tile* tile = cache_.find(key);
            // Typed tiles kept raw are made from their samples (remap), not read.
            if ((tile != nullptr && current(*tile)) || raw_.has(key) || !cache_.mayRead(key, w.now)) continue;
            if (!asked_.insert(key).second) continue;  // read and waiting, or asked for already
            out.push_back(request(w, t, pinned, shows(w, list)));
        }
    }

    /* Uploads the tiles waiting, most urgent first, while `uploaded` stays within `share`; each done
     * with goes back to the reader at once, the others wait. */
    void upload(const FrameWants& w, std::size_t& uploaded, std::size_t share) {
        for (Arrival& a : waiting_) {
            a.request.distance = distanceToCentre(w.map, grid_, a.request.tile, w.frame);
            a.request.urgency = screenShare(w.map, grid_, a.request.tile.level, w.frame, a.request.distance);
        }
        std::sort(waiting_.begin(), waiting_.end(),
                  [](const Arrival& a, const Arrival& b) { return moreUrgent(a.request, b.request); });
        std::size_t kept = 0, i = 0;  // [0, kept) wait, [kept, i) were given back
        try {
            for (; i < waiting_.size(); ++i)
                if (takeArrival(w, waiting_[i], uploaded, share) || ++waiting_[i].waits > kLongestWait)
                    reader_.giveBack(waiting_[i]);
                else
                    std::swap(waiting_[kept++], waiting_[i]);
        } catch (...) {  // std::bad_alloc, the arrival that met it untouched
            waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(kept),
                           waiting_.begin() + static_cast<std::ptrdiff_t>(i));
            throw;
        }
        waiting_.resize(kept);
    }

    /* Whether an arrival is done with: a failed read counted, a cancelled or unwanted one dropped, or
     * uploaded (adding to `uploaded`); false when it must wait for room or for the next share. */
    bool takeArrival(const FrameWants& w, Arrival& a, std::size_t& uploaded, std::size_t share) {
        if (!a.ok) {
            if (a.cancelled) return true;  // no failure: nobody wanted it any more
            // A read started before an invalidation of its tile read old pixels: it does not count
            // against the tile's retries, which the fresh request starts again.
            if (cache_.invalidatedSince(a.request))
                cache_.failedStale();
            else
                cache_.failed(tileKey(a.request.tile), w.now, a.retryAfterMs, rules_);
            return true;
        }
        if (!w.wants(tileKey(a.request.tile))) return true;
        const std::size_t bytes = tileBytes(grid_, a.request.tile);
        if (uploaded > 0 && uploaded + bytes > share) return false;
        const unsigned char* pixels = a.pixels.get();
        if (mappingNumber_ != 0) pixels = mapped(a.request.rect, pixels);
        if (!cache_.upload(a.request, pixels, options_.budgetBytes, w.frameNumber, w.now, rules_,
                           mappingNumber_))
            return false;
        uploaded += bytes;
        if (mappingNumber_ != 0 && !cache_.invalidatedSince(a.request)) keepRaw(a, w.frameNumber);
        return true;
    }

    /* A typed tile's texels, in texels_, through the mapping shown. */
    const unsigned char* mapped(const PixelRect& rect, const unsigned char* samples) {
        tables_.apply(samples, std::size_t{rect.width} * pixelBytes(layout_), rect.width, rect.height,
                      texels_.data(), std::size_t{rect.width} * 4);
        return texels_.data();
    }

    /* Keeps an arrival's samples: its buffer when the tile fills most of it (the reader makes a new one),
     * else a copy of the tile's size. Out of memory, it is not kept (and read again if need be). */
    void keepRaw(Arrival& a, std::uint64_t frameNumber) noexcept {
        try {
            const std::uint64_t key = tileKey(a.request.tile);
            const std::size_t bytes =
                std::size_t{a.request.rect.width} * a.request.rect.height * pixelBytes(layout_);
            if (bytes * 2 > reader_.bufferBytes()) {
                raw_.keep(key, a.pixels, reader_.bufferBytes(), frameNumber);
                return;
            }
            RawTiles::Buffer copy(new (std::nothrow) unsigned char[bytes]);
            if (!copy) return;
            std::copy(a.pixels.get(), a.pixels.get() + bytes, copy.get());
            raw_.keep(key, copy, bytes, frameNumber);
        } catch (...) {  // std::bad_alloc: the arrival keeps its buffer
        }
    }

    const LevelGrid& grid_;
    TileCache& cache_;
    const TileViewOptions& options_;
    TileCache::RetryRules rules_;
    // Typed pictures: the mapping, its number, the raw tiles and one tile's texels.
    SampleLayout layout_;
    DisplayMapping mapping_;
    MappingTables tables_;
    std::uint64_t mappingNumber_ = 0;
    RawTiles raw_;
    std::vector<unsigned char> texels_;
    std::vector<Arrival> waiting_;  // read, not yet uploaded (capacity kHeldTiles)
    std::vector<TileRequest> requests_;
    std::unordered_set<std::uint64_t> asked_;
    TileReader reader_;  // last: stopped before anything its reads might reach goes
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_ARRIVALS_HPP */
