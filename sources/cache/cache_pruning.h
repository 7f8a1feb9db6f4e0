#pragma once
// The cache kept within its size: the least recently used files removed first (by modification time,
// which a use refreshes), and the partial files of writers that no longer run (left by a kill or a
// power cut) removed whatever the size.
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

// Removes the partial files under `directory` whose writer is gone, then its least recently used
// files until all of them together take at most `limitBytes` (0: no limit), never those in `keep`,
// those kept while this process runs, nor partial files of writers still running (which count once
// renamed into place).
// In a directory of Zelvan's own (cache_directory.h) every file under it, in any subdirectory,
// counts and may go, and subdirectories left empty go too; in any other only Zelvan's pyramids
// ("<name>-<16 hex digits>.tif") and their partial files at its top do, and nothing else is
// touched. Never fails: what cannot be removed stays.
void pruneCache(const std::string& directory, std::uint64_t limitBytes,
                const std::vector<std::string>& keep = {});

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
