/*
 * The tile view's cache, one a picture: the tiles resident as textures, reads that failed and when to try
 * them again, invalidated regions, and the upload of a tile read into its parts; and the scene's one
 * texture budget over every picture's cache (TextureBudget: least recently drawn evicted first, the
 * one-tile levels pinned while their pictures are drawn).
 */
#ifndef ZELVAN_TILES_CACHE_HPP
#define ZELVAN_TILES_CACHE_HPP

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_tiles_grid.hpp"
#include "zelvan_tiles_plan.hpp"

namespace zelvan {
namespace detail {

using Clock = std::chrono::steady_clock;

class TileCache;

/* The texture bytes of every cache of a scene, and the room made among them all. The caches register
 * themselves and are all used on the drawing thread. */
class TextureBudget {
public:
    /* Bytes resident in every cache together. */
    std::size_t residentBytes() const noexcept { return resident_; }
    /* Makes room for `bytes` more within `budgetBytes`: least recently drawn first of every cache, never a
     * tile drawn in `frame` or the one before, nor a pinned one of a picture drawn lately. False when
     * there is none to evict. */
    bool makeRoom(std::size_t bytes, std::size_t budgetBytes, std::uint64_t frame);
    /* After a smaller budget: evict down to it, drawn tiles too if need be, pinned ones last. */
    void shrinkTo(std::size_t budgetBytes);

private:
    friend class TileCache;
    struct Candidate {
        TileCache* cache = nullptr;
        std::uint64_t key = 0, lastDrawn = 0;
        bool pinned = false;
    };
    std::vector<TileCache*> caches_;
    std::size_t resident_ = 0;
};

class TileCache {
public:
    struct Tile {
        Image parts[9];  // as tileParts lists them
        std::size_t bytes = 0;
        std::uint64_t lastDrawn = 0;
        bool stale = false;         // invalidated: drawn until its new pixels come
        std::uint64_t mapping = 0;  // the display mapping its texels were made with (typed pictures)
        bool pinned = false;
    };
    struct Counts {
        std::uint64_t uploads = 0, readsFailed = 0, readsGivenUp = 0;
    };
    struct RetryRules {
        unsigned retries = 2;                     // failures before a tile is given up
        std::chrono::milliseconds backoff{2000};  // given up: tried again after this, doubling
        std::chrono::milliseconds longestBackoff{120000};
    };

    /* A cache within `budget`, which must outlive it. Throws std::bad_alloc. */
    TileCache(const LevelGrid& grid, TextureBudget& budget) : grid_(grid), budget_(budget) {
        budget_.caches_.push_back(this);
    }
    ~TileCache() {
        clear();
        auto& all = budget_.caches_;
        all.erase(std::remove(all.begin(), all.end(), this), all.end());
    }
    TileCache(const TileCache&) = delete;
    TileCache& operator=(const TileCache&) = delete;

    /* A picture not drawn lately lets its pinned tiles go when room is needed. */
    void setIdle(bool idle) noexcept { idle_ = idle; }

    // ---- residency and budget ----

    Tile* find(std::uint64_t key) noexcept {
        const auto it = tiles_.find(key);
        return it == tiles_.end() ? nullptr : &it->second;
    }
    std::size_t residentBytes() const noexcept { return residentBytes_; }
    std::size_t size() const noexcept { return tiles_.size(); }
    const Counts& counts() const noexcept { return counts_; }

    /* The pinned level, read first and never evicted, so that a frame always has something to show: the
     * one-tile level (oneTileLevel) when it fits a quarter of the budget, else the finest coarser level
     * that does. For levels that never come down to one tile, the finest within a quarter of the budget
     * and 1 MiB. None when nothing fits (a budget of 0). */
    void choosePinned(std::size_t budgetBytes) {
        pinning_ = false;
        pinnedBytes_ = 0;
        const std::size_t one = oneTileLevel(grid_);
        const std::size_t cap =
            one < grid_.count() ? budgetBytes / 4 : std::min(budgetBytes / 4, std::size_t{1} << 20);
        for (std::size_t k = one < grid_.count() ? one : 0; k < grid_.count(); ++k) {
            if (std::uint64_t{grid_.size(k).width} * grid_.size(k).height > std::uint64_t{1} << 22) continue;
            const std::uint64_t bytes = levelBytes(grid_, k);
            if (bytes <= cap) {
                pinning_ = true;
                pinnedLevel_ = k;
                pinnedBytes_ = static_cast<std::size_t>(bytes);
                break;
            }
        }
        for (auto& entry : tiles_) entry.second.pinned = isPinned(tileOfKey(entry.first));
    }
    bool pinning() const noexcept { return pinning_; }
    std::size_t pinnedLevel() const noexcept { return pinnedLevel_; }
    std::size_t pinnedBytes() const noexcept { return pinnedBytes_; }
    bool isPinned(const TileIndex& t) const noexcept { return pinning_ && t.level == pinnedLevel_; }
    /* The tiles of the pinned level, appended to `out`. */
    void pinnedTiles(std::vector<TileIndex>& out) const {
        if (!pinning_) return;
        const TileSize s = grid_.size(pinnedLevel_);
        for (std::uint32_t r = 0; r < tilesAcross(s.height); ++r)
            for (std::uint32_t c = 0; c < tilesAcross(s.width); ++c)
                out.push_back({static_cast<std::uint32_t>(pinnedLevel_), c, r});
    }
    /* Whether every pinned tile is resident (true when nothing is pinned). */
    bool pinnedResident() const {
        if (!pinning_) return true;
        const TileSize s = grid_.size(pinnedLevel_);
        for (std::uint32_t r = 0; r < tilesAcross(s.height); ++r)
            for (std::uint32_t c = 0; c < tilesAcross(s.width); ++c)
                if (tiles_.count(tileKey({static_cast<std::uint32_t>(pinnedLevel_), c, r})) == 0)
                    return false;
        return true;
    }

    /* The tile to evict first, if it comes before `best`: with `drawnToo` any, pinned last; else one
     * evictable in `frame`. */
    void offerVictim(TextureBudget::Candidate& best, std::uint64_t frame, bool drawnToo) {
        for (auto& entry : tiles_) {
            const Tile& t = entry.second;
            const bool pinned = t.pinned && !idle_;
            if (!drawnToo && !evictable(t.lastDrawn, frame, pinned)) continue;
            if (best.cache == nullptr ||
                std::make_pair(pinned, t.lastDrawn) < std::make_pair(best.pinned, best.lastDrawn))
                best = {this, entry.first, t.lastDrawn, pinned};
        }
    }
    void evict(std::uint64_t key) {
        const auto it = tiles_.find(key);
        if (it != tiles_.end()) evict(it);
    }

    /* Every texture released: the library that held them is gone, or the view is. */
    void clear() noexcept {
        tiles_.clear();
        budget_.resident_ -= residentBytes_;
        residentBytes_ = 0;
    }

    // ---- upload ----

    /* Uploads a tile's texels (blue-green-red-alpha rows of the request's rectangle, packed) as its parts,
     * after making room within budgetBytes (least recently drawn first, never a tile drawn in this frame
     * or the one before, nor a pinned one); the tile it replaces (invalidated, or of an older mapping)
     * goes only once they are in. `inPlace`: the room the old tile frees counts, the budget being
     * exceeded by it only while both are there. False when there is no room: the caller waits. */
    bool upload(const TileRequest& request, const unsigned char* texels, std::size_t budgetBytes,
                std::uint64_t frame, Clock::time_point now, const RetryRules& rules,
                std::uint64_t mapping = 0, bool inPlace = false) {
        const std::uint64_t key = tileKey(request.tile);
        const std::size_t bytes = tileBytes(grid_, request.tile);
        const Tile* replaced = inPlace ? find(key) : nullptr;
        const std::size_t freed = replaced != nullptr ? std::min(replaced->bytes, bytes) : 0;
        if (!makeRoom(bytes - freed, budgetBytes, frame)) return false;
        Tile fresh;
        fresh.bytes = bytes;
        fresh.pinned = isPinned(request.tile);
        fresh.lastDrawn = frame;
        fresh.stale = invalidatedSince(request);
        fresh.mapping = mapping;
        const TileParts parts = tileParts(grid_, request.tile);
        const PixelRect& tile = request.rect;
        const std::size_t pitch = std::size_t{tile.width} * 4;
        for (int i = 0; i < parts.count; ++i) {
            const PixelRect& r = parts.rect[i];
            fresh.parts[i] = Image(r.width, r.height);
            const unsigned char* first =
                texels + std::size_t{r.y - tile.y} * pitch + std::size_t{r.x - tile.x} * 4;
            // A part is one block: one upload, rows `pitch` apart (at most 2048 bytes).
            if (!ZelvanSetBlockPtr(fresh.parts[i].handle(), 0, 0, first, static_cast<std::int32_t>(pitch))) {
                failed(key, now, -1, rules);
                return true;  // done with it: the old tile, if any, stays
            }
        }
        if (Tile* old = find(key)) {
            residentBytes_ -= old->bytes;
            budget_.resident_ -= old->bytes;
            fresh.lastDrawn = old->lastDrawn;
            *old = std::move(fresh);
        } else {
            tiles_.emplace(key, std::move(fresh));
        }
        residentBytes_ += bytes;
        budget_.resident_ += bytes;
        failures_.erase(key);
        ++counts_.uploads;
        return true;
    }

    // ---- failures ----

    /* Counts a failed read or upload. The tile is asked for again no sooner than the source said; after
     * more failures than rules.retries it is given up for rules.backoff, doubling each time (at most
     * rules.longestBackoff), then tried afresh. */
    void failed(std::uint64_t key, Clock::time_point now, std::int64_t retryAfterMs,
                const RetryRules& rules) {
        ++counts_.readsFailed;
        if (failures_.size() >= kMaxFailures && failures_.count(key) == 0)
            failures_.clear();  // bounded: tiles the view left start counting again
        Failure& f = failures_[key];
        Clock::duration wait = std::chrono::milliseconds(std::max<std::int64_t>(retryAfterMs, 0));
        if (++f.attempts > rules.retries) {
            f.attempts = 0;
            f.givenUp = true;
            ++counts_.readsGivenUp;
            auto backoff = rules.backoff;
            for (unsigned i = 0; i < f.timesGivenUp && backoff < rules.longestBackoff; ++i) backoff *= 2;
            ++f.timesGivenUp;
            wait = std::max<Clock::duration>(wait, std::min(backoff, rules.longestBackoff));
        }
        f.notBefore = now + wait;
    }
    /* A failed read that does not count against its tile's retries (it read pixels invalidated since). */
    void failedStale() noexcept { ++counts_.readsFailed; }
    /* Whether the tile may be asked for now. */
    bool mayRead(std::uint64_t key, Clock::time_point now) const {
        const auto it = failures_.find(key);
        return it == failures_.end() || now >= it->second.notBefore;
    }
    /* The tiles given up and waiting for their back-off, appended to `out`. */
    void givenUp(std::vector<TileIndex>& out, Clock::time_point now) const {
        for (const auto& f : failures_)
            if (f.second.givenUp && now < f.second.notBefore) out.push_back(tileOfKey(f.first));
    }
    /* Every tile given up is tried again at once. */
    void retryGivenUp() noexcept {
        for (auto& f : failures_)
            if (f.second.givenUp) f.second.notBefore = Clock::time_point::min();
    }

    // ---- invalidation ----

    /* Marks the tiles over `area` stale (drawn until new pixels come) and forgets their failures. */
    void invalidate(const Area& area) {
        ++epoch_;
        if (invalidations_.size() >= 1024) {  // bounded: merged into one rectangle around them all
            Area all = area;
            for (const Invalidation& i : invalidations_)
                all = {std::min(all.u0, i.area.u0), std::min(all.v0, i.area.v0), std::max(all.u1, i.area.u1),
                       std::max(all.v1, i.area.v1)};
            invalidations_.assign(1, {epoch_, all});
        } else {
            invalidations_.push_back({epoch_, area});
        }
        for (auto& entry : tiles_)
            if (grid_.tileArea(tileOfKey(entry.first)).meets(area)) entry.second.stale = true;
        for (auto it = failures_.begin(); it != failures_.end();)
            it = grid_.tileArea(tileOfKey(it->first)).meets(area) ? failures_.erase(it) : std::next(it);
    }
    std::uint64_t epoch() const noexcept { return epoch_; }
    /* Whether the tile was invalidated after the request was made: what was read may be old. */
    bool invalidatedSince(const TileRequest& r) const {
        const Area a = grid_.tileArea(r.tile);
        for (const Invalidation& i : invalidations_)
            if (i.epoch > r.epoch && i.area.meets(a)) return true;
        return false;
    }
    /* With no read under way or waiting: nothing read can predate an invalidation any more. */
    void forgetInvalidations() noexcept { invalidations_.clear(); }

private:
    static constexpr std::size_t kMaxFailures = 65536;
    struct Failure {
        unsigned attempts = 0, timesGivenUp = 0;
        bool givenUp = false;
        Clock::time_point notBefore;
    };
    struct Invalidation {
        std::uint64_t epoch;
        Area area;
    };

    void evict(std::unordered_map<std::uint64_t, Tile>::iterator it) {
        residentBytes_ -= it->second.bytes;
        budget_.resident_ -= it->second.bytes;
        tiles_.erase(it);
    }

    bool makeRoom(std::size_t bytes, std::size_t budgetBytes, std::uint64_t frame) {
        return budget_.makeRoom(bytes, budgetBytes, frame);
    }

    const LevelGrid& grid_;
    TextureBudget& budget_;
    bool idle_ = false;
    std::unordered_map<std::uint64_t, Tile> tiles_;
    std::size_t residentBytes_ = 0;
    bool pinning_ = false;
    std::size_t pinnedLevel_ = 0, pinnedBytes_ = 0;
    std::unordered_map<std::uint64_t, Failure> failures_;
    std::vector<Invalidation> invalidations_;
    std::uint64_t epoch_ = 0;
    Counts counts_;
};

inline bool TextureBudget::makeRoom(std::size_t bytes, std::size_t budgetBytes, std::uint64_t frame) {
    while (resident_ + bytes > budgetBytes) {
        Candidate victim;
        for (TileCache* c : caches_) c->offerVictim(victim, frame, false);
        if (victim.cache == nullptr) return false;
        victim.cache->evict(victim.key);
    }
    return true;
}

inline void TextureBudget::shrinkTo(std::size_t budgetBytes) {
    while (resident_ > budgetBytes) {
        Candidate victim;
        for (TileCache* c : caches_) c->offerVictim(victim, 0, true);
        if (victim.cache == nullptr) return;
        victim.cache->evict(victim.key);
    }
}

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_CACHE_HPP */
