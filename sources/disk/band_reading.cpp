// The public calls of zelvan_sources_bands.hpp: a picture on disk read top to bottom, or written as a
// pyramidal TIFF.
#include <new>
#include <stdexcept>

#include "disk/pyramids/pyramid_tiff.h"
#include "disk_opening.h"
#include "vips_picture.h"
#include "zelvan_sources_bands.hpp"

namespace zelvan {
namespace sources {

namespace {

// `failure`'s message naming `path`, as every line the library gives does.
std::string namingPath(const std::string& path, const std::string& message) {
    return message.compare(0, path.size() + 2, path + ": ") == 0 ? message : path + ": " + message;
}

// Runs `open`: "" when it returns, else why it threw, in one line naming `path`.
template <class Open>
std::string failureOf(const std::string& path, Open&& open) {
    try {
        open();
        return {};
    } catch (const std::bad_alloc&) {
        return path + ": out of memory";
    } catch (const std::exception& failure) {
        return namingPath(path, failure.what());
    } catch (...) {
        return path + ": cannot be opened";
    }
}

}  // namespace

OpenedBands openBands(const std::string& path, const OpenOptions& options) {
    OpenedBands opened;
    opened.error = failureOf(path, [&] {
        const detail::VipsPicture picture(path, options.range,
                                          std::make_shared<detail::WarningSink>(path, options.warning));
        opened.reader = picture.bands();
    });
    return opened;
}

OpenedBandsOrTiles openBandsOrTiles(const std::string& path, const OpenOptions& options,
                                    const std::function<bool(const PictureInfo&)>& readInBands) {
    OpenedBandsOrTiles opened;
    opened.error = failureOf(path, [&] {
        const detail::VipsPicture picture(path, options.range,
                                          std::make_shared<detail::WarningSink>(path, options.warning),
                                          options.rawSamples);
        const bool colours = picture.sampleLayout().type == SampleType::Bgra8;
        if (colours && !picture.pyramidal() && readInBands && readInBands(picture.info()))
            opened.bands = picture.bands();
        else
            opened.tiles = detail::diskTiles(picture, options);
    });
    if (!opened && opened.error.empty()) opened.error = path + ": cannot be opened";
    return opened;
}

bool writePyramid(const std::string& path, const std::string& pyramidPath, const OpenOptions& options,
                  std::string& error) {
    try {
        const detail::VipsPicture picture(path, options.range,
                                          std::make_shared<detail::WarningSink>(path, options.warning));
        detail::writePyramidTiff(picture, pyramidPath, options.progress);
        return true;
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory";
    } catch (const std::exception& failure) {
        error = namingPath(path, failure.what());
    } catch (...) {
        error = path + ": cannot be written as a pyramid";
    }
    return false;
}

}  // namespace sources
}  // namespace zelvan
