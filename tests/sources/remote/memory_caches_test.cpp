// The one LRU of Zelvan::sources, as the decoded tiles (a byte bound, tiles of different sizes) and a
// remote TIFF's blocks (a count bound) use it.
#include <gtest/gtest.h>

#include <string>

#include "lru_cache.h"

namespace {

using zelvan::sources::detail::LruCache;

struct Bytes {
    std::size_t operator()(std::size_t bytes) const { return bytes; }
};

// Values are their own sizes. Looking entries up makes them the most recently used.
bool holds(LruCache<char, std::size_t, Bytes>& cache, const std::string& keys) {
    for (char k : std::string("abcdefg"))
        if ((cache.find(k) != nullptr) != (keys.find(k) != std::string::npos)) return false;
    return true;
}

TEST(MemoryCaches, ByteBoundDropsLeastRecentlyUsedFirstWhateverTheirSizes) {
    LruCache<char, std::size_t, Bytes> cache(100);
    cache.put('a', 40);
    cache.put('b', 30);
    cache.put('c', 20);
    ASSERT_NE(cache.find('a'), nullptr);  // now the most recently used: b goes first, then c
    cache.put('d', 25);
    EXPECT_EQ(cache.used(), 85u);
    ASSERT_NE(cache.find('c'), nullptr);
    cache.put('e', 60);  // a and d make room; c, used since, stays
    EXPECT_EQ(cache.used(), 80u);
    cache.put('c', 15);  // a new value counts in place of the old, and is the most recently used
    EXPECT_EQ(cache.used(), 75u);
    cache.put('f', 30);
    EXPECT_EQ(cache.used(), 45u);
    EXPECT_TRUE(holds(cache, "cf"));
    cache.put('c', 101);  // more than the whole limit: not kept, nor its old value
    EXPECT_EQ(cache.used(), 30u);
    EXPECT_TRUE(holds(cache, "f"));
}

TEST(MemoryCaches, CountBoundKeepsTheEntriesUsedLately) {
    LruCache<int, std::string> blocks(2);
    blocks.put(1, "one");
    blocks.put(2, "two");
    ASSERT_NE(blocks.find(1), nullptr);
    blocks.put(3, "three");
    EXPECT_EQ(blocks.find(2), nullptr);
    ASSERT_NE(blocks.find(1), nullptr);
    EXPECT_EQ(*blocks.find(3), "three");
    EXPECT_EQ(blocks.size(), 2u);
}

}  // namespace
