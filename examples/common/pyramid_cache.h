#pragma once
// Where pictures too large for their textures are kept as pyramidal TIFFs (pyramid_tiff.h): one
// file per source picture and display range, written once and used again while the source is
// unchanged (same absolute path, size and modification time), within a size limit.
#include <cstdint>
#include <string>

#include "progress.h"
#include "vips_picture.h"

namespace zelvan_demo {

// $XDG_CACHE_HOME/zelvan, or ~/.cache/zelvan.
std::string defaultCacheDirectory();

// The cache file for the picture at `path` shown over `range`: a name of its own in `directory`
// for every path, size, modification time and range. Throws DemoError when the file is gone.
std::string cacheFileFor(const std::string& directory, const std::string& path, const DisplayRange& range);

// Creates `directory` (and its parents) when missing and checks that files can be made in it.
// Throws DemoError ("--cache DIR: ...") otherwise.
void prepareCacheDirectory(const std::string& directory);

// The cache file of `picture` (opened from `path` over `range`), written first if there is none,
// telling `pixelsDone` as it goes; then the cache is pruned to `limitBytes` (0: no limit), keeping
// every entry this process has used (cache_pruning.h). Throws DemoError.
std::string cachedPyramid(const VipsPicture& picture, const std::string& path, const DisplayRange& range,
                          const std::string& directory, std::uint64_t limitBytes,
                          const ProgressFn& pixelsDone = {});

}  // namespace zelvan_demo
