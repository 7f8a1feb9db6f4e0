#include "picture_opening.h"

#include <cmath>

#include "halved_bands.h"
#include "program.h"
#include "progress.h"
#include "pyramid_cache.h"
#include "streamed_picture.h"
#include "tiled_picture.h"
#include "zelvan_levels.hpp"
#include "zelvan_pyramid.hpp"

namespace zelvan_demo {

namespace {

std::unique_ptr<ShownPicture> tiled(const VipsPicture& picture, const std::string& name,
                                    const PictureOptions& options) {
    zelvan::TileViewOptions view;
    view.budgetBytes = options.budgetBytes;
    view.uploadBytesPerFrame = options.uploadBytesPerFrame;
    view.workers = options.readers;
    return std::make_unique<TiledPicture>(picture.tiles(), name, view);
}

}  // namespace

std::size_t levelsUnneeded(double scale, std::uint32_t width, std::uint32_t height) {
    return zelvan::levelsFor(scale, zelvan::levelCount(width, height)).finer;
}

std::unique_ptr<ShownPicture> openShownPicture(const std::string& path, const PictureOptions& options) {
    VipsPicture picture(path, options.range);
    if (picture.pyramidal()) return tiled(picture, path, options);

    const std::uint32_t width = picture.width(), height = picture.height();
    const std::size_t skip =
        options.onlyScale ? levelsUnneeded(options.onlyScale(width, height), width, height) : 0;
    const std::uint32_t shownWidth = zelvan::levelSide(width, skip),
                        shownHeight = zelvan::levelSide(height, skip);
    if (zelvan::Pyramid::textureBytes(shownWidth, shownHeight) <= options.budgetBytes)
        return std::make_unique<StreamedPicture>(halvedBands(picture.bands(), skip), path, options.stripWidth,
                                                 SkippedLevels{width, height, skip});

    const std::string directory =
        options.cacheDirectory.empty() ? defaultCacheDirectory() : options.cacheDirectory;
    std::string file;
    {
        ProgressLine progress("writing the pyramid of " + path + " into the cache", "pixels");
        file = cachedPyramid(picture, path, options.range, directory,
                             std::uint64_t(std::ceil(options.cacheLimitGiB * double(std::uint64_t{1} << 30))),
                             progress.callback());
    }
    // The cache holds display-ready pixels: read as they are.
    const VipsPicture cached(file);
    if (!cached.pyramidal()) throw DemoError(file + ": the cached pyramid has a single level");
    return tiled(cached, path, options);
}

}  // namespace zelvan_demo
