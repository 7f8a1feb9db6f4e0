#pragma once
// How a picture file is shown, chosen by its size: a pyramidal file through the tile view; a plain
// one whose pyramid textures fit the budget streamed into them (halved first, when only coarse levels
// will be drawn); a larger one written once into a pyramidal TIFF in the cache, then shown through
// the tile view.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "shown_picture.h"
#include "vips_picture.h"
#include "zelvan_tiles.hpp"

namespace zelvan_demo {

constexpr std::size_t kDefaultBudgetMiB = 256;
constexpr double kDefaultCacheLimitGiB = 10;

struct PictureOptions {
    std::size_t budgetBytes = kDefaultBudgetMiB << 20;  // texture bytes
    std::string cacheDirectory;                         // empty: defaultCacheDirectory()
    double cacheLimitGiB = kDefaultCacheLimitGiB;       // 0: no limit
    DisplayRange range;
    std::uint32_t stripWidth = 0;  // StreamedPicture's strips
    // Tile textures made per frame at most: few where frames must keep coming, any number where
    // only the finished frame counts.
    std::size_t uploadBytesPerFrame = zelvan::TileViewOptions{}.uploadBytesPerFrame;
    unsigned readers = 0;  // the tile view's workers; 0: as many as leave a core for drawing
    // The one scale (screen pixels per picture pixel) a picture of the size given will be drawn at,
    // or none when it may be drawn at any.
    std::function<double(std::uint32_t width, std::uint32_t height)> onlyScale;
};

// Opens `path` as `options` say; needs a zelvan::Library and the context current. Writing the cache
// shows its progress on a terminal. Throws DemoError with one line.
std::unique_ptr<ShownPicture> openShownPicture(const std::string& path, const PictureOptions& options);

// The levels a pyramid drawn at `scale` can do without: those finer than the finer level it draws.
std::size_t levelsUnneeded(double scale, std::uint32_t width, std::uint32_t height);

}  // namespace zelvan_demo
