/*
 * The tile view's raw tiles: the samples of typed pictures as read, kept within the scene's raw budget
 * (RawBudget, over every picture's raw tiles: least recently wanted evicted first), so that a new display
 * mapping, or a texture evicted and wanted again, is made from them without reading the source again; and a
 * channel's samples gathered from them for its histogram and limits.
 */
#ifndef ZELVAN_TILES_RAW_HPP
#define ZELVAN_TILES_RAW_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zelvan_mapping.hpp"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_tiles_grid.hpp"

namespace zelvan {
namespace detail {

class RawTiles;

/* The raw bytes of every picture of a scene, within one budget; used on the drawing thread. */
class RawBudget {
public:
    explicit RawBudget(std::size_t budgetBytes) noexcept : budget_(budgetBytes) {}
    std::size_t bytes() const noexcept { return bytes_; }
    std::size_t budget() const noexcept { return budget_; }
    /* A new budget: least recently wanted evicted down to it. */
    void setBudget(std::size_t budgetBytes) noexcept;
    /* Makes room for `bytes` more: least recently wanted first, never a tile wanted in `frame` (0: any).
     * False when there is none to evict. */
    bool makeRoom(std::size_t bytes, std::uint64_t frame) noexcept;

private:
    friend class RawTiles;
    std::vector<RawTiles*> all_;
    std::size_t bytes_ = 0, budget_;
};

class RawTiles {
public:
    using Buffer = std::unique_ptr<unsigned char[]>;
    struct Tile {
        Buffer samples;  // the tile's rectangle, rows width * pixel bytes apart
        std::size_t bytes = 0;
        std::uint64_t lastWanted = 0;
    };

    /* Raw tiles within `budget`, which must outlive them. Throws std::bad_alloc. */
    explicit RawTiles(RawBudget& budget) : budget_(budget) { budget_.all_.push_back(this); }
    ~RawTiles() {
        while (!tiles_.empty()) erase(tiles_.begin());
        auto& all = budget_.all_;
        all.erase(std::remove(all.begin(), all.end(), this), all.end());
    }
    RawTiles(const RawTiles&) = delete;
    RawTiles& operator=(const RawTiles&) = delete;

    const Tile* find(std::uint64_t key) const noexcept {
        const auto it = tiles_.find(key);
        return it == tiles_.end() ? nullptr : &it->second;
    }
    bool has(std::uint64_t key) const noexcept { return tiles_.count(key) != 0; }
    std::size_t bytes() const noexcept { return bytes_; }
    std::size_t size() const noexcept { return tiles_.size(); }
    template <typename Visit>
    void forEach(Visit visit) const {
        for (const auto& entry : tiles_) visit(entry.first, entry.second);
    }

    void touch(std::uint64_t key, std::uint64_t frame) noexcept {
        const auto it = tiles_.find(key);
        if (it != tiles_.end()) it->second.lastWanted = frame;
    }

    /* Keeps a tile's samples (`bytes` as allocated), taking the buffer, after making room least recently
     * wanted first, never a tile wanted in `frame`. False, the buffer left alone, when there is no room.
     * Throws std::bad_alloc. */
    bool keep(std::uint64_t key, Buffer& samples, std::size_t bytes, std::uint64_t frame) {
        forget(key);
        if (!budget_.makeRoom(bytes, frame)) return false;
        // The entry first: if it cannot be had, the caller keeps its buffer.
        Tile& tile = tiles_.emplace(key, Tile{}).first->second;
        tile.samples = std::move(samples);
        tile.bytes = bytes;
        tile.lastWanted = frame;
        bytes_ += bytes;
        budget_.bytes_ += bytes;
        return true;
    }
    void forget(std::uint64_t key) noexcept {
        const auto it = tiles_.find(key);
        if (it != tiles_.end()) erase(it);
    }

    /* The least recently wanted tile, if wanted before `frame` (0: any) and before `best`'s. */
    void offerVictim(RawTiles*& owner, std::uint64_t& key, std::uint64_t& wanted,
                     std::uint64_t frame) noexcept {
        for (const auto& entry : tiles_)
            if ((frame == 0 || entry.second.lastWanted < frame) &&
                (owner == nullptr || entry.second.lastWanted < wanted))
                owner = this, key = entry.first, wanted = entry.second.lastWanted;
    }

    /* The tiles over a level-0 area are dropped: their pixels changed. */
    void invalidate(const LevelGrid& grid, const Area& area) noexcept {
        for (auto it = tiles_.begin(); it != tiles_.end();)
            it = grid.tileArea(tileOfKey(it->first)).meets(area) ? erase(it) : std::next(it);
    }

private:
    std::unordered_map<std::uint64_t, Tile>::iterator erase(
        std::unordered_map<std::uint64_t, Tile>::iterator it) {
        bytes_ -= it->second.bytes;
        budget_.bytes_ -= it->second.bytes;
        return tiles_.erase(it);
    }

    std::unordered_map<std::uint64_t, Tile> tiles_;
    std::size_t bytes_ = 0;
    RawBudget& budget_;
};

inline bool RawBudget::makeRoom(std::size_t bytes, std::uint64_t frame) noexcept {
    while (bytes_ + bytes > budget_) {
        RawTiles* owner = nullptr;
        std::uint64_t key = 0, wanted = 0;
        for (RawTiles* r : all_) r->offerVictim(owner, key, wanted, frame);
        if (owner == nullptr) return false;
        owner->forget(key);
    }
    return true;
}

inline void RawBudget::setBudget(std::size_t budgetBytes) noexcept {
    budget_ = budgetBytes;
    makeRoom(0, 0);
}

/* The level a channel's statistics read: the one-tile level when it is kept whole (it is read first, so
 * limits are there once the view is ready); else the finest level kept whole; else the coarsest kept in
 * part; grid.count() when nothing is kept. */
inline std::size_t statisticsLevel(const RawTiles& raw, const LevelGrid& grid) {
    std::vector<std::size_t> tiles(grid.count(), 0);
    raw.forEach([&](std::uint64_t key, const RawTiles::Tile&) { ++tiles[tileOfKey(key).level]; });
    const auto whole = [&](std::size_t k) {
        const TileSize s = grid.size(k);
        return tiles[k] == std::size_t{tilesAcross(s.width)} * tilesAcross(s.height);
    };
    const std::size_t one = oneTileLevel(grid);
    if (one < grid.count() && whole(one)) return one;
    for (std::size_t k = 0; k < grid.count(); ++k)
        if (whole(k)) return k;
    for (std::size_t k = grid.count(); k-- > 0;)
        if (tiles[k] != 0) return k;
    return grid.count();
}

/* The finite samples of `channel` (at most about 4 million, evenly spaced) from the raw tiles of
 * statisticsLevel, appended to `out`. Throws std::bad_alloc. */
inline void channelValues(const RawTiles& raw, const LevelGrid& grid, const SampleLayout& layout,
                          unsigned channel, ChannelValues& out) {
    if (layout.type == SampleType::Bgra8 || channel >= layout.channels || raw.size() == 0) return;
    const std::size_t level = statisticsLevel(raw, grid);
    std::uint64_t pixels = 0;
    raw.forEach([&](std::uint64_t key, const RawTiles::Tile&) {
        const TileIndex t = tileOfKey(key);
        const PixelRect r = grid.tileRect(t);
        if (t.level == level) pixels += std::uint64_t{r.width} * r.height;
    });
    const std::size_t step = static_cast<std::size_t>(pixels / (std::uint64_t{1} << 22) + 1);
    out.values.reserve(static_cast<std::size_t>(pixels / step + 1));
    raw.forEach([&](std::uint64_t key, const RawTiles::Tile& tile) {
        const TileIndex t = tileOfKey(key);
        const PixelRect r = grid.tileRect(t);
        if (t.level == level)
            out.add(tile.samples.get(), layout, channel, std::size_t{r.width} * r.height, step);
    });
}

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_RAW_HPP */
