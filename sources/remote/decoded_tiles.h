#pragma once
// Server tiles decoded lately, kept in memory within a byte limit (least recently used dropped first),
// so that the view's neighbouring tiles, which often share a server tile, decode it once.
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "tile_decoding.h"

namespace zelvan {
namespace sources {
namespace detail {

class DecodedTiles {
public:
    using Tile = std::shared_ptr<const DecodedTile>;

    explicit DecodedTiles(std::size_t limitBytes) : limit_(limitBytes) {}

    static std::uint64_t key(std::size_t level, std::uint32_t column, std::uint32_t row) {
        return (std::uint64_t{level} << 58) ^ (std::uint64_t{column} << 29) ^ row;
    }

    Tile find(std::uint64_t key) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = index_.find(key);
        if (found == index_.end()) return nullptr;
        entries_.splice(entries_.begin(), entries_, found->second);
        return found->second->second;
    }

    void insert(std::uint64_t key, Tile tile) {
        const std::size_t bytes = tile->pixels.size();
        if (bytes > limit_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = index_.find(key);
        if (found != index_.end()) {
            used_ -= found->second->second->pixels.size();
            entries_.erase(found->second);
            index_.erase(found);
        }
        entries_.emplace_front(key, std::move(tile));
        index_[key] = entries_.begin();
        used_ += bytes;
        while (used_ > limit_) {
            used_ -= entries_.back().second->pixels.size();
            index_.erase(entries_.back().first);
            entries_.pop_back();
        }
    }

private:
    using Entry = std::pair<std::uint64_t, Tile>;
    std::mutex mutex_;
    std::list<Entry> entries_;
    std::unordered_map<std::uint64_t, std::list<Entry>::iterator> index_;
    std::size_t used_ = 0;
    const std::size_t limit_;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
