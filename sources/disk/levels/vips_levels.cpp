#include "vips_levels.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>

#include "tiff_directories.h"
#include "vips/vips_session.h"
#include "zelvan_levels.hpp"

namespace zelvan {
namespace sources {
namespace detail {

using vips::VImage;

namespace {

// How many halvings, each rounded up or down, take a level of width x height to `coarser`: 1 for
// a level that halves it, n for one 2^n times smaller, 0 for any other. A file's level may be one pixel
// off either rounding (its maker scaled it otherwise). No more of a file's pages than
// zelvan::kMaxLevels are looked through for levels.
int halvingsTo(int width, int height, const std::pair<int, int>& coarser) {
    for (std::size_t n = 1; n < zelvan::kMaxLevels && coarser.first < width; ++n) {
        if (zelvan::isHalving(std::uint32_t(width), std::uint32_t(coarser.first), 1) &&
            zelvan::isHalving(std::uint32_t(height), std::uint32_t(coarser.second), 1))
            return int(n);
        width = int(zelvan::levelSide(std::uint32_t(width), 1));  // within one of either rounding
        height = int(zelvan::levelSide(std::uint32_t(height), 1));
    }
    return 0;
}

int intField(const VImage& image, const char* name, int otherwise) {
    return vips_image_get_typeof(image.get_image(), name) ? image.get_int(name) : otherwise;
}

// The size of the picture `option` = `value` opens, through libvips; false past the last one.
using Probe = std::function<bool(int value, std::pair<int, int>& size)>;

Probe libvipsProbe(const std::string& path, const std::string& loader, const char* option) {
    return [=](int value, std::pair<int, int>& size) {
        try {
            const VImage candidate = openLevel(path, loader, {option, value}, VIPS_ACCESS_RANDOM);
            size = {candidate.width(), candidate.height()};
            return true;
        } catch (const vips::VError&) {
            takeVipsErrors();  // past the last one
            return false;
        }
    };
}

// The sizes libtiff reads, in the order of `option`'s values; libvips' probe where it cannot.
Probe tiffProbe(const std::string& path, const std::string& loader, const char* option, bool subifds) {
    auto sizes = std::make_shared<std::vector<std::pair<int, int>>>();
    if (!tiffDirectorySizes(path, subifds, *sizes)) {
        takeVipsErrors();  // what libtiff said of it: libvips' own opening says it again
        return libvipsProbe(path, loader, option);
    }
    return [sizes](int value, std::pair<int, int>& size) {
        if (value < 0 || std::size_t(value) >= sizes->size()) return false;
        size = (*sizes)[std::size_t(value)];
        return true;
    };
}

// Of the candidates `option` = first, first + 1, ... (up to `count`), those that are the last one
// kept halved once or more: a pyramid's levels, skipping pages of other kinds (masks, thumbnails,
// other channels) between them. Halvings the file skips (slides often shrink by 4 a level) are
// computed levels. Without a count, candidates are tried until the probe finds none.
void addHalvingLevels(const Probe& probe, const char* option, int first, int count, std::pair<int, int> last,
                      std::vector<LevelLoad>& loads, std::vector<std::pair<int, int>>& levels) {
    std::pair<int, int> candidate;
    for (int value = first; value < count && levels.size() < zelvan::kMaxLevels && probe(value, candidate);
         ++value) {
        const int halvings = halvingsTo(last.first, last.second, candidate);
        if (halvings == 0) continue;
        if (levels.size() + std::size_t(halvings) > zelvan::kMaxLevels) break;
        loads.insert(loads.end(), std::size_t(halvings - 1), LevelLoad{nullptr, 0, true});
        levels.insert(levels.end(), std::size_t(halvings - 1), std::pair<int, int>{});
        loads.push_back({option, value});
        levels.push_back(candidate);
        last = candidate;
    }
}

// PNG and JPEG decode top to bottom, so a file cut short (a copy or download that stopped) still
// holds the rows above the cut: libvips gives them, with a warning, only when told to fail on nothing.
// Only where the picture is decoded whole for random access, which plainPictureLimitBytes bounds: read
// in sequence (in bands, or into a pyramid) libvips would go on past the cut to the last row the
// header claims, however many, so there the first pixels that cannot be decoded fail, as in every
// other format.
VipsFailOn failOn(const std::string& loader, VipsAccess access) {
    return access == VIPS_ACCESS_RANDOM && (loader == "pngload" || loader == "jpegload") ? VIPS_FAIL_ON_NONE
                                                                                         : VIPS_FAIL_ON_ERROR;
}

}  // namespace

VImage openLevel(const std::string& path, const std::string& loader, const LevelLoad& level,
                 VipsAccess access, int page) {
    VImage out;
    vips::VOption* options = VImage::option()
                                 ->set("filename", path.c_str())
                                 ->set("access", access)
                                 ->set("fail_on", failOn(loader, access))
                                 ->set("out", &out);
    if (page >= 0) options->set("page", page);
    if (level.option) options->set(level.option, level.value);
    VImage::call(loader.c_str(), options);
    return out;
}

void findLevels(const std::string& path, const std::string& loader, const VImage& first,
                std::vector<LevelLoad>& loads, std::vector<TileSize>& sizes) {
    loads.assign(1, LevelLoad{});
    std::vector<std::pair<int, int>> levels{{first.width(), first.height()}};
    if (loader == "tiffload") {
        const int subifds = intField(first, VIPS_META_N_SUBIFDS, 0);
        if (subifds > 0)
            addHalvingLevels(tiffProbe(path, loader, "subifd", true), "subifd", 0, subifds, levels[0], loads,
                             levels);
        else
            addHalvingLevels(tiffProbe(path, loader, "page", false), "page", 1,
                             intField(first, VIPS_META_N_PAGES, 1), levels[0], loads, levels);
    } else if (loader == "openslideload") {
        addHalvingLevels(libvipsProbe(path, loader, "level"), "level", 1, int(zelvan::kMaxLevels), levels[0],
                         loads, levels);
    } else if (loader == "jp2kload") {  // its pages are the resolutions of the one picture
        addHalvingLevels(libvipsProbe(path, loader, "page"), "page", 1, int(zelvan::kMaxLevels), levels[0],
                         loads, levels);
    }
    // Each level is turned upright as level 0 is (a TIFF page may say otherwise, but then it is
    // no level of this picture).
    const bool swap = vips_image_get_orientation_swap(first.get_image());
    // A computed level halves the one before as vips_halving does, rounding up.
    sizes.clear();
    for (std::size_t k = 0; k < levels.size(); ++k) {
        if (loads[k].computed) {
            const TileSize finer = sizes.back();
            sizes.push_back({zelvan::levelSide(finer.width, 1), zelvan::levelSide(finer.height, 1)});
            continue;
        }
        const auto width = std::uint32_t(levels[k].first), height = std::uint32_t(levels[k].second);
        sizes.push_back(swap ? TileSize{height, width} : TileSize{width, height});
    }
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
