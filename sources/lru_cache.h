#pragma once
// Values kept in memory within a bound, the least recently used dropped first: the one LRU of
// Zelvan::sources (decoded server tiles within bytes, a remote TIFF's blocks within a count). Each entry
// costs what `Cost` says of its value when it is put in (one by default, so the bound counts entries),
// and the sum of the costs kept never passes the limit. Not thread-safe: its owner locks around it.
#include <cstddef>
#include <list>
#include <unordered_map>
#include <utility>

namespace zelvan {
namespace sources {
namespace detail {

// Every entry costs one: the limit is a number of entries.
struct EntryCount {
    template <class Value>
    std::size_t operator()(const Value&) const {
        return 1;
    }
};

template <class Key, class Value, class Cost = EntryCount>
class LruCache {
public:
    // Keeps entries whose costs add up to at most `limit`; 0 keeps nothing.
    explicit LruCache(std::size_t limit, Cost cost = Cost()) : limit_(limit), cost_(std::move(cost)) {}

    // The value under `key`, now the most recently used; null when there is none. The pointer stays
    // valid until the next put. Constant time.
    const Value* find(const Key& key) {
        const auto found = index_.find(key);
        if (found == index_.end()) return nullptr;
        entries_.splice(entries_.begin(), entries_, found->second);
        return &found->second->value;
    }

    // Keeps `value` under `key` as the most recently used, in place of one there, then drops the least
    // recently used until the costs fit the limit. A value costing more than the whole limit is not
    // kept (one there under `key` is dropped). Throws std::bad_alloc, leaving the cache as it was.
    void put(const Key& key, Value value) {
        const std::size_t cost = cost_(value);
        if (cost > limit_) {
            erase(key);
            return;
        }
        entries_.push_front(Entry{key, std::move(value), cost});
        try {
            const auto placed = index_.emplace(key, entries_.begin());
            if (!placed.second) {
                used_ -= placed.first->second->cost;
                entries_.erase(placed.first->second);
                placed.first->second = entries_.begin();
            }
        } catch (...) {
            entries_.pop_front();
            throw;
        }
        used_ += cost;
        while (used_ > limit_) {
            used_ -= entries_.back().cost;
            index_.erase(entries_.back().key);
            entries_.pop_back();
        }
    }

    // The sum of the kept entries' costs, and how many they are.
    std::size_t used() const { return used_; }
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        Key key;
        Value value;
        std::size_t cost;
    };

    void erase(const Key& key) {
        const auto found = index_.find(key);
        if (found == index_.end()) return;
        used_ -= found->second->cost;
        entries_.erase(found->second);
        index_.erase(found);
    }

    const std::size_t limit_;
    Cost cost_;
    std::list<Entry> entries_;  // most recently used first
    std::unordered_map<Key, typename std::list<Entry>::iterator> index_;
    std::size_t used_ = 0;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
