// Which way a picture on disk is read as tiles: a pyramidal file through its own levels; a plain one
// small enough decoded whole, its coarser levels halved from it; a larger plain one through the
// pyramid written once into the cache. Raw samples never go through the cache, which holds colours:
// a plain picture's coarser levels are halved from its own level 0 (libvips keeps a large decoded
// picture of a loader without random access in a temporary file, not in memory).
#include "disk_opening.h"

#include <new>
#include <stdexcept>
#include <vips/vips8>

#include "disk/pixels/vips_tiles.h"
#include "disk/pyramids/pyramid_cache.h"
#include "disk/pyramids/pyramid_tiff.h"
#include "vips_picture.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

std::unique_ptr<PictureSource> tilesOf(const VipsPicture& picture, PictureInfo info,
                                       std::uint32_t coarsestSide = 0) {
    return openVipsTiles(picture.tileLevels(coarsestSide), std::move(info), picture.warnings());
}

}  // namespace

std::unique_ptr<PictureSource> diskTiles(const VipsPicture& picture, const OpenOptions& options) {
    PictureInfo info = picture.info();
    if (picture.sampleLayout().type != SampleType::Bgra8)
        return openVipsTiles(picture.tileLevels(picture.pyramidal() ? 0 : kPyramidTile), std::move(info),
                             picture.warnings(), picture.sampleLayout(), picture.displayMapping());
    if (picture.pyramidal()) return tilesOf(picture, std::move(info));
    // Within one tile there is no pyramid to write (it would have that one level): read whole.
    const bool oneTile = picture.width() <= kPyramidTile && picture.height() <= kPyramidTile;
    if (oneTile || std::uint64_t{picture.width()} * picture.height() * 4 <= options.plainPictureLimitBytes)
        return tilesOf(picture, std::move(info), kPyramidTile);
    const std::string file = cachedPyramid(picture, options);
    // The cache holds display-ready pixels: read as they are, its warnings (none are expected) the
    // picture's.
    const VipsPicture cached(file, DisplayRange{}, picture.warnings());
    if (!cached.pyramidal()) throw std::runtime_error(file + ": the cached pyramid has a single level");
    return tilesOf(cached, std::move(info));
}

std::unique_ptr<PictureSource> openDisk(const std::string& path, const OpenOptions& options,
                                        std::string& error) {
    try {
        return diskTiles(
            VipsPicture(path, options.range, std::make_shared<WarningSink>(path, options.warning),
                        options.rawSamples),
            options);
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory";
    } catch (const std::exception& failure) {
        error = failure.what();
        if (error.compare(0, path.size() + 2, path + ": ") != 0) error = path + ": " + error;
    }
    return nullptr;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
