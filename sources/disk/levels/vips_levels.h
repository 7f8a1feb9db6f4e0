#pragma once
// Opening a picture file, or one level of it, with libvips, and finding the levels a pyramidal file
// holds. Everything here throws vips::VError; the caller names the file.
#include <string>
#include <vector>
#include <vips/vips8>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// How libvips opens one level: the loader's option that picks it ("page", "subifd", "level"), or
// none for the file's first picture; or, for a level the file lacks, that it is computed: half
// the level before, from that one's display pixels.
struct LevelLoad {
    const char* option = nullptr;
    int value = 0;
    bool computed = false;
};

// The file opened by `loader` (a libvips operation name) at `level` (of the TIFF page `page`, where
// one is given). Nothing is decoded yet. Pixel data that cannot be decoded (truncated, or an error
// the decoder cannot go past) fails the read that meets it; what the decoder goes past with a warning
// is logged (vips_warnings.h), not failed. A PNG or JPEG opened for random access, decoded whole, gives
// the rows above a cut with a warning.
vips::VImage openLevel(const std::string& path, const std::string& loader, const LevelLoad& level,
                       VipsAccess access, int page = -1);

// The levels of the file whose first picture is `first`, finest first, each about half the one
// before: the file's own where they halve the last one kept, and where the file's next level is
// 2^n times smaller, the n - 1 between as computed ones. Sizes as they are once turned upright.
void findLevels(const std::string& path, const std::string& loader, const vips::VImage& first,
                std::vector<LevelLoad>& loads, std::vector<TileSize>& sizes);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
