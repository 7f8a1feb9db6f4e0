#include "pyramid_tiff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <vips/vips8>

#include "program.h"
#include "temporary_files.h"
#include "tiff_pages.h"
#include "vips_halving.h"
#include "vips_picture.h"
#include "vips_session.h"
#include "zelvan_pyramid.hpp"

namespace zelvan_demo {

namespace {

// libvips' message, first line only.
std::string vipsReason(const vips::VError& error) {
    std::string text = error.what();
    text = text.substr(0, text.find('\n'));
    vips_error_clear();
    return text.empty() ? "libvips failed" : text;
}

// --- Progress over every level ---

struct Progress {
    const ProgressFn* tell;
    std::uint64_t before, total;  // pixels of the levels written already, of all of them
};

void onEval(VipsImage*, VipsProgress* progress, void* data) {
    const auto* p = static_cast<const Progress*>(data);
    if (*p->tell) (*p->tell)(p->before + std::uint64_t(progress->npels), p->total);
}

void saveLevel(vips::VImage level, const std::string& path, bool big, Progress& progress) {
    vips_image_set_progress(level.get_image(), TRUE);
    g_signal_connect(level.get_image(), "eval", G_CALLBACK(onEval), &progress);
    level.tiffsave(path.c_str(), vips::VImage::option()
                                     ->set("tile", true)
                                     ->set("tile_width", kPyramidTile)
                                     ->set("tile_height", kPyramidTile)
                                     ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_ZSTD)
                                     ->set("predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL)
                                     ->set("level", 1)
                                     ->set("bigtiff", big)
                                     ->set("strip", true));
    g_signal_handlers_disconnect_by_data(level.get_image(), &progress);
    progress.before += std::uint64_t(level.width()) * std::uint64_t(level.height());
}

// Files removed at the end of the scope, or by a stopping signal before it (temporary_files.h).
struct TemporaryFiles {
    std::vector<std::string> paths;
    std::vector<int> signalSlots;
    // Before the file is made, so that a signal can find it as soon as it exists.
    const std::string& add(const std::string& path) {
        signalSlots.reserve(paths.size() + 1);  // so that a registered slot is always kept
        paths.push_back(path);
        signalSlots.push_back(registerTemporaryFile(path));
        return paths.back();
    }
    ~TemporaryFiles() {
        for (std::size_t i = 0; i < paths.size(); ++i) {
            std::remove(paths[i].c_str());
            unregisterTemporaryFile(signalSlots[i]);
        }
    }
};

}  // namespace

void writePyramidTiff(const vips::VImage& picture, const std::string& path, const std::string& name,
                      const ProgressFn& pixelsDone) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw DemoError(path + ": is a directory; give a file name for the pyramid");
    if (picture.bands() != 4 || picture.format() != VIPS_FORMAT_UCHAR)
        throw DemoError(name + ": the pyramid takes 8-bit red, green, blue and alpha");
    const auto width = std::uint32_t(picture.width()), height = std::uint32_t(picture.height());
    // Down to the first level within one tile, as other readers of pyramidal TIFFs expect.
    std::size_t levels = 1;
    while (std::max(zelvan::Pyramid::levelSide(width, levels - 1),
                    zelvan::Pyramid::levelSide(height, levels - 1)) > std::uint32_t(kPyramidTile))
        ++levels;
    // Over 3 GB of pixels might compress to more than a 32-bit TIFF can address.
    const bool big = zelvan::Pyramid::textureBytes(width, height) > (std::uint64_t{3} << 30);
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < levels; ++k)
        total += std::uint64_t{zelvan::Pyramid::levelSide(width, k)} * zelvan::Pyramid::levelSide(height, k);

    TemporaryFiles temporary;
    const std::string stem = path + ".partial-" + std::to_string(getpid());
    Progress progress{&pixelsDone, 0, total};
    try {
        vips::VImage level = picture;
        for (std::size_t k = 0; k < levels; ++k) {
            if (k > 0)
                level = halved(vips::VImage::new_from_file(temporary.paths.back().c_str(),
                                                           vips::VImage::option()->set("access", "random")));
            saveLevel(level, temporary.add(stem + "-" + std::to_string(k) + ".tif"), big, progress);
            checkVipsWarnings(name);  // a warning while decoding the picture fails it, as a read would
        }
    } catch (const vips::VError& error) {
        throw DemoError(name + ": cannot write the pyramid " + path + " (" + vipsReason(error) + ")");
    }
    const std::string joined = temporary.add(stem + ".tif");
    joinTiffPages({temporary.paths.begin(), temporary.paths.end() - 1}, joined, big, name);
    if (std::rename(joined.c_str(), path.c_str()) != 0)
        throw DemoError(name + ": cannot write the pyramid " + path);
}

void writePyramidTiff(const VipsPicture& picture, const std::string& path, const ProgressFn& pixelsDone) {
    writePyramidTiff(picture.displayLevel(0), path, picture.name(), pixelsDone);
}

}  // namespace zelvan_demo
