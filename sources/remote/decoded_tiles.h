#pragma once
// Server tiles decoded lately, kept in memory within a byte limit (least recently used dropped first),
// so that the view's neighbouring tiles, which often share a server tile, decode it once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "lru_cache.h"
#include "tile_decoding.h"

namespace zelvan {
namespace sources {
namespace detail {

class DecodedTiles {
public:
    using Tile = std::shared_ptr<const DecodedTile>;

    // Keeps tiles whose pixels add up to at most `limitBytes`.
    explicit DecodedTiles(std::size_t limitBytes) : tiles_(limitBytes) {}

    // The key of a server tile of a level; distinct for every level, column and row a layout has.
    static std::uint64_t key(std::size_t level, std::uint32_t column, std::uint32_t row) {
        return (std::uint64_t{level} << 58) ^ (std::uint64_t{column} << 29) ^ row;
    }

    // The tile under `key`, or null. Any thread.
    Tile find(std::uint64_t key) {
        std::lock_guard<std::mutex> lock(mutex_);
        const Tile* found = tiles_.find(key);
        return found ? *found : nullptr;
    }

    // Keeps `tile` (not null) under `key`; one larger than the limit is not kept. Any thread; throws
    // std::bad_alloc.
    void insert(std::uint64_t key, Tile tile) {
        std::lock_guard<std::mutex> lock(mutex_);
        tiles_.put(key, std::move(tile));
    }

private:
    struct PixelBytes {
        std::size_t operator()(const Tile& tile) const { return tile->bytes(); }
    };
    std::mutex mutex_;
    LruCache<std::uint64_t, Tile, PixelBytes> tiles_;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
