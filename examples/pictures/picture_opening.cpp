#include "picture_opening.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "halved_bands.h"
#include "image_reading.h"
#include "program.h"
#include "progress.h"
#include "streamed_picture.h"
#include "tiled_picture.h"
#include "zelvan_levels.hpp"
#include "zelvan_pyramid.hpp"
#include "zelvan_sources_bands.hpp"

namespace zelvan_demo {

namespace {

zelvan::sources::Opened opened(const std::string& path, const zelvan::sources::OpenOptions& sources) {
    zelvan::sources::Opened opened = zelvan::sources::open(path, sources);
    if (!opened) throw DemoError(opened.error);
    return opened;
}

// Pictures without planes show their one whatever the options ask: a plane asked for that is not
// there is an error all the same, not a silent plane 0.
void checkPlane(const std::string& path, const zelvan::sources::PictureInfo& info,
                const zelvan::sources::OpenOptions& sources) {
    if (sources.timePoint < info.timePoints && sources.depth < info.depths) return;
    throw DemoError(path + ": no plane at time point " + std::to_string(sources.timePoint) + " and depth " +
                    std::to_string(sources.depth) + " (--t, --z: the picture has " +
                    std::to_string(info.timePoints) + " and " + std::to_string(info.depths) + ")");
}

bool isDirectory(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

zelvan::sources::OpenOptions sourceOptions(const std::string& cacheDirectory, double cacheLimitGiB,
                                           double timeoutSeconds, const zelvan::sources::DisplayRange& range,
                                           const PictureSelection& selection, const char* program) {
    zelvan::sources::OpenOptions options;
    options.cacheDirectory = cacheDirectory;
    options.cacheLimitBytes = std::uint64_t(std::ceil(cacheLimitGiB * double(std::uint64_t{1} << 30)));
    options.timeout = std::chrono::milliseconds(std::int64_t(std::ceil(timeoutSeconds * 1000)));
    options.range = range;
    options.timePoint = selection.timePoint;
    options.depth = selection.depth;
    options.objectStorage.profile = selection.profile;
    options.warning = [program](const std::string& line) {
        std::fprintf(stderr, "%s: warning: %s\n", program, line.c_str());
    };
    return options;
}

std::size_t levelsUnneeded(double scale, std::uint32_t width, std::uint32_t height) {
    return zelvan::levelsFor(scale, zelvan::levelCount(width, height)).finer;
}

PictureChoice choosePicture(const std::string& path, const PictureOptions& options) {
    PictureChoice choice;
    choice.path = path;
    // A URL, or a directory (an OME-Zarr store: no file libvips reads), is read tile by tile, as
    // zelvan::sources::open takes it.
    if (zelvan::sources::isUrl(path) || isDirectory(path)) {
        choice.tiles = opened(path, options.sources).source;
        checkPlane(path, choice.tiles->info(), options.sources);
        return choice;
    }
    // A plain picture of colours is streamed when its textures, halved as often as the scale allows,
    // fit the budget; anything else is read tile by tile: raw samples, a pyramidal file's own levels,
    // and a larger plain picture through the pyramid Zelvan::sources writes into its cache for it.
    const auto skipFor = [&options](std::uint32_t width, std::uint32_t height) -> std::size_t {
        return options.onlyScale ? levelsUnneeded(options.onlyScale(width, height), width, height) : 0;
    };
    const auto streamed = [&](const zelvan::sources::PictureInfo& info) {
        const std::size_t skip = skipFor(info.width, info.height);
        return zelvan::Pyramid::textureBytes(zelvan::levelSide(info.width, skip),
                                             zelvan::levelSide(info.height, skip)) <= options.budgetBytes;
    };
    zelvan::sources::OpenOptions sources = options.sources;
    sources.plainPictureLimitBytes = 0;
    ProgressLine progress("writing the pyramid of " + path + " into the cache", "%");
    sources.progress = [&progress](double done) { progress.update(std::uint64_t(done * 100), 100); };
    zelvan::sources::OpenedBandsOrTiles file = zelvan::sources::openBandsOrTiles(path, sources, streamed);
    if (!file) throw DemoError(file.error);
    checkPlane(path, file.tiles ? file.tiles->info() : file.bands->info(), options.sources);
    if (file.tiles) {
        choice.tiles = std::move(file.tiles);
        return choice;
    }
    const std::uint32_t width = file.bands->info().width, height = file.bands->info().height;
    const std::size_t skip = skipFor(width, height);
    choice.bands = halvedBands(bandSource(std::move(file.bands)), skip);
    choice.skipped = {width, height, skip};
    return choice;
}

std::unique_ptr<ShownPicture> showPicture(PictureChoice choice, const PictureOptions& options) {
    if (choice.bands) {
        auto picture = std::make_unique<StreamedPicture>(std::move(choice.bands), choice.path,
                                                         options.stripWidth, choice.skipped);
        picture->setPasses(options.passes);
        return picture;
    }
    zelvan::TileViewOptions view;
    view.passes = options.passes;
    view.budgetBytes = options.budgetBytes;
    view.uploadBytesPerFrame = options.uploadBytesPerFrame;
    // A picture on a server: its reads wait on the network, not on a core, and each worker holds a view
    // tile's requests; as many as the view runs, so that the next level's requests start while the
    // coarser one's are still coming.
    view.workers = choice.tiles && choice.tiles->info().remote ? 8 : options.readers;
    // A still frame is seen only once all its tiles have come: nothing stands in for them meanwhile.
    view.standIns = !options.onlyScale;
    return std::make_unique<TiledPicture>(std::move(choice.tiles), choice.path, view,
                                          bool(options.onlyScale));
}

std::unique_ptr<ShownPicture> openShownPicture(const std::string& path, const PictureOptions& options) {
    return showPicture(choosePicture(path, options), options);
}

}  // namespace zelvan_demo
