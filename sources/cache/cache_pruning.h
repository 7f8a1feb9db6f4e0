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
// touched. Never fails: what cannot be removed stays. Returns the bytes the files that count take
// after it.
std::uint64_t pruneCache(const std::string& directory, std::uint64_t limitBytes,
                         const std::vector<std::string>& keep = {});

// Room made in the cache under `directory` for a file of `bytes` about to be put in place, before it
// is: the least recently used files go until those that count and the new one take at most
// `limitBytes` (0: no limit). The one exception is what cannot go (files kept while running, those
// in `keep`): with it the new file may not fit. Holds a lock of this process for its lifetime, so
// that its stores (of every thread) fit one after another; the bytes this process has put in place
// since it last looked are counted, so that the directory is listed again only when they would not
// fit. Other processes keep the limit at their own stores. Throws nothing.
class CacheRoom {
public:
    CacheRoom(const std::string& directory, std::uint64_t limitBytes, std::uint64_t bytes,
              const std::vector<std::string>& keep = {});
    ~CacheRoom();
    CacheRoom(const CacheRoom&) = delete;
    CacheRoom& operator=(const CacheRoom&) = delete;

    // Whether the new file fits within the limit.
    bool fits() const { return fits_; }
    // The file is in place: it counts from now on.
    void placed();

private:
    std::string directory_;
    std::uint64_t bytes_;
    bool fits_ = true;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
