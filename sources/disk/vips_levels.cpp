#include "vips_levels.h"

#include <cstdlib>

#include "vips_session.h"

namespace zelvan {
namespace sources {
namespace detail {

using vips::VImage;

namespace {

// More pages than this are not looked through for levels: a pyramid of 2^32 a side has 33.
constexpr int kMaxLevels = 40;

bool halves(int finer, int coarser) { return coarser >= finer / 2 - 1 && coarser <= (finer + 1) / 2 + 1; }

// How many halvings, each rounded up or down, take a level of width x height to `coarser`: 1 for
// a level that halves it, n for one 2^n times smaller, 0 for any other.
int halvingsTo(int width, int height, const VImage& coarser) {
    for (int n = 1; n < kMaxLevels && coarser.width() < width; ++n) {
        if (halves(width, coarser.width()) && halves(height, coarser.height())) return n;
        width = width / 2 + width % 2, height = height / 2 + height % 2;  // within one of either rounding
    }
    return 0;
}

int intField(const VImage& image, const char* name, int otherwise) {
    return vips_image_get_typeof(image.get_image(), name) ? image.get_int(name) : otherwise;
}

// Of the candidates opened by `option` = 0, 1, ... (up to `count`), those that are the last one
// kept halved once or more: a pyramid's levels, skipping pages of other kinds (masks, thumbnails,
// other channels) between them. Halvings the file skips (slides often shrink by 4 a level) are
// computed levels, held as null images. Without a count, candidates are tried until one fails to
// open.
void addHalvingLevels(const std::string& path, const std::string& loader, const char* option, int first,
                      int count, VImage last, std::vector<LevelLoad>& loads, std::vector<VImage>& levels) {
    for (int value = first; value < count && levels.size() < std::size_t(kMaxLevels); ++value) {
        VImage candidate;
        try {
            candidate = openLevel(path, loader, {option, value}, VIPS_ACCESS_RANDOM);
        } catch (const vips::VError&) {
            takeVipsErrors();  // past the last one
            break;
        }
        const int halvings = halvingsTo(last.width(), last.height(), candidate);
        if (halvings == 0) continue;
        if (levels.size() + std::size_t(halvings) > std::size_t(kMaxLevels)) break;
        loads.insert(loads.end(), std::size_t(halvings - 1), LevelLoad{nullptr, 0, true});
        levels.insert(levels.end(), std::size_t(halvings - 1), VImage());
        loads.push_back({option, value});
        levels.push_back(candidate);
        last = candidate;
    }
}

}  // namespace

VImage openLevel(const std::string& path, const std::string& loader, const LevelLoad& level,
                 VipsAccess access) {
    VImage out;
    vips::VOption* options = VImage::option()
                                 ->set("filename", path.c_str())
                                 ->set("access", access)
                                 ->set("fail_on", VIPS_FAIL_ON_ERROR)
                                 ->set("out", &out);
    if (level.option) options->set(level.option, level.value);
    VImage::call(loader.c_str(), options);
    return out;
}

void findLevels(const std::string& path, const std::string& loader, const VImage& first,
                std::vector<LevelLoad>& loads, std::vector<TileSize>& sizes) {
    loads.assign(1, LevelLoad{});
    std::vector<VImage> levels{first};
    if (loader == "tiffload") {
        const int subifds = intField(first, VIPS_META_N_SUBIFDS, 0);
        if (subifds > 0)
            addHalvingLevels(path, loader, "subifd", 0, subifds, first, loads, levels);
        else
            addHalvingLevels(path, loader, "page", 1, intField(first, VIPS_META_N_PAGES, 1), first, loads,
                             levels);
    } else if (loader == "openslideload") {
        addHalvingLevels(path, loader, "level", 1, kMaxLevels, first, loads, levels);
    } else if (loader == "jp2kload") {  // its pages are the resolutions of the one picture
        addHalvingLevels(path, loader, "page", 1, kMaxLevels, first, loads, levels);
    }
    // Each level is turned upright as level 0 is (a TIFF page may say otherwise, but then it is
    // no level of this picture).
    const bool swap = vips_image_get_orientation_swap(first.get_image());
    // A computed level halves the one before as vips_halving does, rounding up.
    sizes.clear();
    for (std::size_t k = 0; k < levels.size(); ++k) {
        if (loads[k].computed) {
            const TileSize finer = sizes.back();
            sizes.push_back({finer.width / 2 + finer.width % 2, finer.height / 2 + finer.height % 2});
            continue;
        }
        const auto width = std::uint32_t(levels[k].width()), height = std::uint32_t(levels[k].height());
        sizes.push_back(swap ? TileSize{height, width} : TileSize{width, height});
    }
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
