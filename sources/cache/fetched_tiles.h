#pragma once
// Fetched response bodies kept on disk, keyed by their URL, so that a picture seen before is shown again
// without the network. Each body is one file under <cache directory>/remote/, named by a hash of the URL
// and holding the URL itself, so that a hash collision reads as a miss; files are written whole (a
// temporary file renamed), so a reader never sees half of one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

class FetchedTiles {
public:
    // Files under `cacheDirectory`/remote; an empty directory keeps nothing. The whole cache is kept
    // within `limitBytes` (0: no limit), pyramids included: pruned once here, and room is made for
    // each body before it is written (cache_pruning.h's CacheRoom); a body that cannot fit is not kept.
    FetchedTiles(const std::string& cacheDirectory, std::uint64_t limitBytes);

    bool enabled() const { return !directory_.empty(); }
    // The body stored for `url`, at most `maxBytes` long; false when there is none.
    bool load(const std::string& url, std::size_t maxBytes, std::vector<unsigned char>& body) const;
    // Stores the body for `url`; a failure (a full disk, no permission) only leaves it out.
    void store(const std::string& url, const std::vector<unsigned char>& body) const;

private:
    std::string fileFor(const std::string& url) const;

    std::string cacheDirectory_;
    std::string directory_;
    std::uint64_t limitBytes_ = 0;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
