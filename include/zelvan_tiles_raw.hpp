/*
 * The tile view's raw tiles: the samples of typed pictures as read, kept within a byte budget of their own
 * (least recently wanted evicted first), so that a new display mapping, or a texture evicted and wanted
 * again, is made from them without reading the source again.
 */
#ifndef ZELVAN_TILES_RAW_HPP
#define ZELVAN_TILES_RAW_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>

#include "zelvan_tiles_plan.hpp"

namespace zelvan {
namespace detail {

class RawTiles {
public:
    using Buffer = std::unique_ptr<unsigned char[]>;
    struct Tile {
        Buffer samples;  // the tile's rectangle, rows width * pixel bytes apart
        std::size_t bytes = 0;
        std::uint64_t lastWanted = 0;
    };

    explicit RawTiles(std::size_t budgetBytes) : budget_(budgetBytes) {}

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
        while (bytes_ + bytes > budget_) {
            auto victim = tiles_.end();
            for (auto it = tiles_.begin(); it != tiles_.end(); ++it)
                if (it->second.lastWanted < frame &&
                    (victim == tiles_.end() || it->second.lastWanted < victim->second.lastWanted))
                    victim = it;
            if (victim == tiles_.end()) return false;
            erase(victim);
        }
        // The entry first: if it cannot be had, the caller keeps its buffer.
        Tile& tile = tiles_.emplace(key, Tile{}).first->second;
        tile.samples = std::move(samples);
        tile.bytes = bytes;
        tile.lastWanted = frame;
        bytes_ += bytes;
        return true;
    }
    void forget(std::uint64_t key) noexcept {
        const auto it = tiles_.find(key);
        if (it != tiles_.end()) erase(it);
    }

    /* A new budget: least recently wanted evicted down to it. */
    void setBudget(std::size_t budgetBytes) noexcept {
        budget_ = budgetBytes;
        while (bytes_ > budget_) {
            auto victim = tiles_.begin();
            for (auto it = tiles_.begin(); it != tiles_.end(); ++it)
                if (it->second.lastWanted < victim->second.lastWanted) victim = it;
            erase(victim);
        }
    }
    std::size_t budget() const noexcept { return budget_; }

    /* The tiles over a level-0 area are dropped: their pixels changed. */
    void invalidate(const LevelGrid& grid, const Area& area) noexcept {
        for (auto it = tiles_.begin(); it != tiles_.end();)
            it = grid.tileArea(tileOfKey(it->first)).meets(area) ? erase(it) : std::next(it);
    }

private:
    std::unordered_map<std::uint64_t, Tile>::iterator erase(
        std::unordered_map<std::uint64_t, Tile>::iterator it) {
        bytes_ -= it->second.bytes;
        return tiles_.erase(it);
    }

    std::unordered_map<std::uint64_t, Tile> tiles_;
    std::size_t bytes_ = 0, budget_;
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_RAW_HPP */
