#pragma once
// Where plain pictures too large to be read whole are kept as pyramidal TIFFs (pyramid_tiff.h): one
// file per picture and display range, written once and used again while the picture is unchanged
// (same absolute path, size and modification time), in the bounded cache (cache/).
#include <string>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

class VipsPicture;

// The cache file for the picture at `path` shown over `range`: a name of its own in `directory`
// ("<name>-<16 hex digits>.tif") for every path, size, modification time and range. Throws when the
// picture is gone.
std::string cacheFileFor(const std::string& directory, const std::string& path, const DisplayRange& range);

// The cache file of `picture` (opened over options.range), written first if there is none (telling
// options.progress), then kept while this process runs; the cache is then pruned to
// options.cacheLimitBytes. Throws std::runtime_error with one line.
std::string cachedPyramid(const VipsPicture& picture, const OpenOptions& options);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
