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

// --- One level from the one above, through libvips' region pipeline ---

void* newRegion(VipsImage*, void* above, void*) { return vips_region_new(static_cast<VipsImage*>(above)); }

int stopRegion(void* region, void*, void*) {
    g_object_unref(region);
    return 0;
}

// Rows of the output region from twice as many rows of the level above, two at a time.
int halveRegion(VipsRegion* out, void* sequence, void* aboveImage, void*, gboolean*) {
    auto* in = static_cast<VipsRegion*>(sequence);
    const auto* above = static_cast<const VipsImage*>(aboveImage);
    const VipsRect& r = out->valid;
    VipsRect need{2 * r.left, 2 * r.top, 2 * r.width, 2 * r.height};
    const VipsRect whole{0, 0, above->Xsize, above->Ysize};
    vips_rect_intersectrect(&need, &whole, &need);
    if (vips_region_prepare(in, &need) != 0) return -1;
    for (int y = 0; y < r.height; ++y) {
        const int row = 2 * (r.top + y);
        const auto* top = reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(in, need.left, row));
        const auto* bottom =
            row + 1 < need.top + need.height
                ? reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(in, need.left, row + 1))
                : nullptr;
        zelvan::detail::halveRows(top, bottom, std::uint32_t(need.width),
                                  reinterpret_cast<unsigned char*>(VIPS_REGION_ADDR(out, r.left, r.top + y)));
    }
    return 0;
}

// The next level of `above` (4 bands of 8 bits), computed as it is asked for.
vips::VImage halved(const vips::VImage& above) {
    VipsImage* in = above.get_image();
    VipsImage* out = vips_image_new();
    vips::VImage result(out);  // owns `out` from here
    // The pipeline copies the header of the level above: the size is set after it.
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_SMALLTILE, in, nullptr) != 0) throw vips::VError();
    vips_image_init_fields(out, std::max(1, in->Xsize / 2 + in->Xsize % 2),
                           std::max(1, in->Ysize / 2 + in->Ysize % 2), 4, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                           VIPS_INTERPRETATION_sRGB, 1, 1);
    if (vips_image_generate(out, newRegion, halveRegion, stopRegion, in, nullptr) != 0) throw vips::VError();
    // The level above lives as long as this one reads it.
    g_object_ref(in);
    g_signal_connect_swapped(out, "close", G_CALLBACK(g_object_unref), in);
    return result;
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
