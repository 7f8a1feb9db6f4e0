#pragma once
// The cache kept within a size: its entries (the files cacheFileFor names, "<name>-<16 hex>.tif")
// removed least recently used first, by modification time, which a use refreshes; and the partial
// files of writers that no longer run ("<entry>.partial-<pid>[-<level>].tif", left by a kill or a
// power cut). Nothing else in the directory is ever touched.
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan_demo {

// Marks the entry at `file` as used now.
void touchCacheEntry(const std::string& file);

// Removes the partial files in `directory` whose writer is gone, then its least recently used
// entries, never those in `keep` (paths as cacheFileFor gives them), until all of them together
// take at most `limitBytes` or only those kept are left; 0 is no limit. What cannot be removed
// stays: pruning never fails.
void pruneCache(const std::string& directory, std::uint64_t limitBytes, const std::vector<std::string>& keep);

}  // namespace zelvan_demo
