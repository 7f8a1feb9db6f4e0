#include "pyramid_tiff.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>
#include <vips/vips8>

#include "cache/cache_pruning.h"
#include "cache/temporary_files.h"
#include "disk/levels/vips_halving.h"
#include "disk/vips_picture.h"
#include "tiff_pages.h"
#include "vips/vips_session.h"
#include "zelvan_pyramid.hpp"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// --- Progress over every level ---

// libvips' count of a level's pixels may stop short of them all, and its signal may come from its
// workers: what is told only rises, stays below 1 while writing, and is 1 once, when the pyramid is
// in place.
struct Progress {
    const std::function<void(double)>* tell;
    std::uint64_t before, total;  // pixels of the levels written already, of all of them
    std::mutex mutex;
    double told = -1;

    void at(double done) {
        const std::lock_guard<std::mutex> lock(mutex);
        done = std::min(done, std::nextafter(1.0, 0.0));
        if (!*tell || done <= told) return;
        told = done;
        (*tell)(done);
    }
    void complete() {
        const std::lock_guard<std::mutex> lock(mutex);
        if (*tell) (*tell)(1.0);
        told = 1;
    }
};

void onEval(VipsImage*, VipsProgress* progress, void* data) {
    auto* p = static_cast<Progress*>(data);
    if (p->total > 0)
        p->at(double(p->before + std::uint64_t(std::max<gint64>(progress->npels, 0))) / double(p->total));
}

void saveLevel(vips::VImage level, const std::string& path, bool big, Progress& progress) {
    vips_image_set_progress(level.get_image(), TRUE);
    g_signal_connect(level.get_image(), "eval", G_CALLBACK(onEval), &progress);
    level.tiffsave(path.c_str(), vips::VImage::option()
                                     ->set("tile", true)
                                     ->set("tile_width", int(kPyramidTile))
                                     ->set("tile_height", int(kPyramidTile))
                                     ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_ZSTD)
                                     ->set("predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL)
                                     ->set("level", 1)
                                     ->set("bigtiff", big)
                                     ->set("strip", true));
    g_signal_handlers_disconnect_by_data(level.get_image(), &progress);
    progress.before += std::uint64_t(level.width()) * std::uint64_t(level.height());
}

}  // namespace

void writePyramidTiff(const vips::VImage& picture, const std::string& path, const std::string& name,
                      const Warnings& warnings, const std::function<void(double)>& progress,
                      const PyramidCache* cache) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw std::runtime_error(path + ": is a directory; give a file name for the pyramid");
    if (picture.bands() != 4 || picture.format() != VIPS_FORMAT_UCHAR)
        throw std::runtime_error(name + ": the pyramid takes 8-bit red, green, blue and alpha");
    const auto width = std::uint32_t(picture.width()), height = std::uint32_t(picture.height());
    // Down to the first level within one tile, as other readers of pyramidal TIFFs expect.
    std::size_t levels = 1;
    while (std::max(zelvan::levelSide(width, levels - 1), zelvan::levelSide(height, levels - 1)) >
           kPyramidTile)
        ++levels;
    // Over 3 GB of pixels might compress to more than a 32-bit TIFF can address.
    const bool big = zelvan::Pyramid::textureBytes(width, height) > (std::uint64_t{3} << 30);
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < levels; ++k)
        total += std::uint64_t{zelvan::levelSide(width, k)} * zelvan::levelSide(height, k);

    TemporaryFiles temporary;
    std::vector<std::string> pages;
    Progress told;
    told.tell = &progress;
    told.before = 0;
    told.total = total;
    {
        // The saver runs on libvips' worker threads: what they log while decoding the picture is its.
        // Each level is computed through collectedBy, whatever else has workers meanwhile.
        WarningCollector collected(true);
        try {
            vips::VImage level = picture;
            for (std::size_t k = 0; k < levels; ++k) {
                if (k > 0)
                    level = halved(vips::VImage::new_from_file(
                        pages.back().c_str(), vips::VImage::option()->set("access", "random")));
                pages.push_back(temporary.add(partialPathFor(path, "-" + std::to_string(k) + ".tif")));
                saveLevel(collectedBy(level, collected), pages.back(), big, told);
            }
        } catch (const vips::VError& error) {
            throw std::runtime_error(name + ": cannot write the pyramid " + path + " (" +
                                     vipsReason(error, collected.take()) + ")");
        }
        warnings->tell(collected.take());
    }
    const std::string joined = temporary.add(partialPathFor(path, ".tif"));
    joinTiffPages(pages, joined, big, name);
    std::optional<CacheRoom> room;
    if (cache != nullptr) {
        // One too large for the limit still goes in place: it is in use from now on.
        struct stat written {};
        room.emplace(cache->directory, cache->limitBytes,
                     stat(joined.c_str(), &written) == 0 ? std::uint64_t(written.st_size) : 0);
    }
    if (!temporary.renameInto(joined, path))
        throw std::runtime_error(name + ": cannot write the pyramid " + path);
    if (room) room->placed();
    room.reset();  // the cache's lock, before the caller hears of it
    told.complete();
}

void writePyramidTiff(const VipsPicture& picture, const std::string& path,
                      const std::function<void(double)>& progress, const PyramidCache* cache) {
    writePyramidTiff(picture.displayLevel(0), path, picture.name(), picture.warnings(), progress, cache);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
