#include "vips_picture.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <vips/vips8>

#include "disk/levels/tiff_directories.h"
#include "disk/levels/vips_halving.h"
#include "disk/levels/vips_levels.h"
#include "disk/levels/vips_sample_halving.h"
#include "disk/pixels/vips_bands.h"
#include "disk/pixels/vips_display.h"
#include "disk/pixels/vips_samples.h"
#include "ome_xml.h"
#include "vips/pixel_rows.h"
#include "vips/vips_session.h"
#include "zelvan_levels.hpp"

namespace zelvan {
namespace sources {
namespace detail {

using vips::VImage;

namespace {

// Percentiles come from a picture of about this many pixels at most.
constexpr double kSamplePixels = 1e6;

[[noreturn]] void fail(const std::string& line) { throw std::runtime_error(line); }

// Loaders that decode top to bottom only: opened for random access, they first decode the whole
// picture, so a sample is taken from them sequentially.
bool sequentialOnly(const std::string& loader) {
    for (const char* name : {"pngload", "jpegload", "webpload", "gifload", "heifload", "jxlload"})
        if (loader == name) return true;
    return false;
}

void checkFileExists(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) fail(path + ": cannot open (" + std::strerror(errno) + ")");
    if (S_ISDIR(status.st_mode)) fail(path + ": is a directory, not an image");
}

bool startsLikeTiff(const std::string& path) {
    char start[4] = {};
    std::ifstream(path, std::ios::binary).read(start, sizeof start);
    const std::string s(start, sizeof start);
    return s == std::string("II*\0", 4) || s == std::string("MM\0*", 4) || s == std::string("II+\0", 4) ||
           s == std::string("MM\0+", 4);
}

// The operation that reads `path`, from its first bytes (and its name, for formats without a
// signature).
std::string findLoader(const std::string& path) {
    const char* loader = vips_foreign_find_load(path.c_str());
    if (!loader || std::strncmp(loader, "VipsForeignLoadMagick", 21) == 0) {
        takeVipsErrors();
        // libvips recognises a TIFF only once libtiff can open it; a damaged one is still a TIFF,
        // and tiffload says what is wrong with it.
        if (startsLikeTiff(path)) return "tiffload";
        fail(path + ": not a picture format libvips reads");
    }
    const char* nickname =
        vips_nickname_find(g_type_from_name(loader));  // "VipsForeignLoadPngFile": "pngload"
    return nickname ? nickname : loader;
}

// The library takes the distance between rows as a signed 32-bit byte count.
void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name) {
    if (std::uint64_t{width} * 4 > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        fail(name + ": a " + std::to_string(width) + " x " + std::to_string(height) +
             " image is too wide (at most 536870911 pixels per row)");
}

// How many pages of a TIFF are channels of one picture: all of them, when there are several and
// each is the size of the first (a pyramid's pages shrink); else 1.
int channelPages(const std::string& path, const std::string& loader, const VImage& first) {
    if (loader != "tiffload" || !vips_image_get_typeof(first.get_image(), VIPS_META_N_PAGES)) return 1;
    const int pages = first.get_int(VIPS_META_N_PAGES);
    std::vector<std::pair<int, int>> sizes;
    if (pages < 2 || !tiffDirectorySizes(path, false, sizes) || sizes.size() != std::size_t(pages)) {
        takeVipsErrors();
        return 1;
    }
    for (const auto& size : sizes)
        if (size != std::pair<int, int>{first.width(), first.height()}) return 1;
    return pages;
}

}  // namespace

struct VipsPicture::State {
    std::string path, loader;
    VImage first;  // level 0 as the file has it, for its header
    std::vector<LevelLoad> loads;
    bool upright = true;  // no orientation to apply
    bool fits = false;
    DisplayRange range;
    std::once_flag mapped;
    SampleMapping mapping;
    SampleLayout layout;    // Bgra8: the display path
    int pages = 1;          // TIFF pages joined as channels
    OmeXmlDescription ome;  // of an OME-TIFF; empty otherwise

    const SampleMapping& sampleMapping() {
        std::call_once(mapped, [this] {
            // Percentiles are summed on libvips' worker threads: what they log belongs here too.
            WarningCollector workers(true);
            mapping = chooseMapping(first, fits, range, [&] { return collectedBy(sample(), workers); });
        });
        return mapping;
    }

    // A level of at most about kSamplePixels, or level 0 read one pixel in so many.
    VImage sample() const {
        for (std::size_t level = 1; level < loads.size(); ++level) {
            if (loads[level].computed) continue;  // the last level is the file's
            VImage candidate = openLevel(path, loader, loads[level], VIPS_ACCESS_RANDOM);
            if (double(candidate.width()) * candidate.height() <= kSamplePixels || level + 1 == loads.size())
                return candidate;
        }
        const VipsAccess access = sequentialOnly(loader) ? VIPS_ACCESS_SEQUENTIAL : VIPS_ACCESS_RANDOM;
        VImage whole = openLevel(path, loader, loads[0], access);
        const int step = int(std::ceil(std::sqrt(double(whole.width()) * whole.height() / kSamplePixels)));
        return step > 1 ? whole.subsample(step, step) : whole;
    }

    // A computed level is halved from the display pixels of the one before (read in pairs of rows
    // and in tiles, so with random access), and so is mapped as they are.
    VImage display(std::size_t level, VipsAccess access) {
        if (loads.at(level).computed) return halved(display(level - 1, VIPS_ACCESS_RANDOM));
        // Turning needs rows in another order than the file's, so it reads with random access.
        VImage image = openLevel(path, loader, loads.at(level), upright ? access : VIPS_ACCESS_RANDOM);
        if (!upright) image = image.autorot();
        return toDisplay(image, sampleMapping());
    }

    // A level's raw samples: the file's as they are (its pages joined), the computed ones halved in
    // their own type.
    VImage samples(std::size_t level, VipsAccess access) {
        if (loads.at(level).computed) return halvedSamples(samples(level - 1, VIPS_ACCESS_RANDOM));
        if (!upright) access = VIPS_ACCESS_RANDOM;
        std::vector<VImage> channels;
        for (int page = 0; page < pages; ++page)
            channels.push_back(openLevel(path, loader, loads[level], access, pages > 1 ? page : -1));
        VImage image = pages > 1 ? VImage::bandjoin(channels) : channels.front();
        if (!upright) image = image.autorot();
        return toSamples(image, layout.type);
    }

    VImage tiles(std::size_t level) {
        return layout.type == SampleType::Bgra8 ? display(level, VIPS_ACCESS_RANDOM)
                                                : samples(level, VIPS_ACCESS_RANDOM);
    }
};

VipsPicture::VipsPicture(const std::string& path, const DisplayRange& range, Warnings warnings,
                         bool rawSamples)
    : name_(path), warnings_(std::move(warnings)), state_(std::make_shared<State>()) {
    startVips();
    checkFileExists(path);
    State& state = *state_;
    state.path = path;
    state.range = range;
    state.loader = findLoader(path);
    WarningCollector collected;
    try {
        state.first = openLevel(path, state.loader, {}, VIPS_ACCESS_RANDOM);
        state.fits = state.loader == "fitsload";
        state.upright = vips_image_get_orientation(state.first.get_image()) == 1;
        findLevels(path, state.loader, state.first, state.loads, levels_);
        if (rawSamples) {
            state.pages = channelPages(path, state.loader, state.first);
            state.layout = rawLayout(state.first, state.pages);
            if (state.layout.type == SampleType::Bgra8) state.pages = 1;
        }
    } catch (const vips::VError& error) {
        failWithVips(path, error, collected.take());
    }
    checkRowsFit(width(), height(), path);
    warnings_->tell(withDecoderNotes(collected.take()));
    readOme();
}

void VipsPicture::readOme() {
#ifdef ZELVAN_SOURCES_PARSERS
    // libvips keeps a TIFF's description as a reference-counted string, which get_string reads too.
    const char* field = "image-description";
    const char* text = nullptr;
    if (state_->first.get_typeof(field) == 0 ||
        vips_image_get_string(state_->first.get_image(), field, &text) != 0 || text == nullptr) {
        vips_error_clear();
        return;
    }
    std::string why;
    if (looksLikeOmeXml(text) && !readOmeXml(text, state_->ome, why))
        warnings_->tell({"its OME-XML cannot be read, its channels go unnamed (" + why + ")"});
#endif
}

DisplayMapping VipsPicture::displayMapping() const {
#ifdef ZELVAN_SOURCES_PARSERS
    return omeMapping(state_->ome, state_->layout);
#else
    return defaultMapping(state_->layout);
#endif
}

VipsPicture::~VipsPicture() = default;
VipsPicture::VipsPicture(VipsPicture&&) noexcept = default;
VipsPicture& VipsPicture::operator=(VipsPicture&&) noexcept = default;

PictureInfo VipsPicture::info() const {
    const VImage& first = state_->first;
    const VipsBandFormat format = first.format();
    PictureInfo info;
    info.width = width(), info.height = height();
    info.bands = unsigned(first.bands()) * unsigned(state_->pages);
    info.bitsPerSample = unsigned(vips_format_sizeof(format) * 8);
    info.floatSamples = vips_band_format_isfloat(format) || vips_band_format_iscomplex(format);
    info.signedSamples = info.floatSamples || format == VIPS_FORMAT_CHAR || format == VIPS_FORMAT_SHORT ||
                         format == VIPS_FORMAT_INT;
    info.levels = levels_;
    info.orientationApplied = !state_->upright;
    const OmeXmlDescription& ome = state_->ome;
    if (ome.channels.size() == info.bands && state_->pages > 1)
        for (const OmeXmlChannel& channel : ome.channels) info.channelNames.push_back(channel.name);
    info.pixelWidthMicrons = ome.pixelWidthMicrons;
    info.pixelHeightMicrons = ome.pixelHeightMicrons;
    const std::string& loader = state_->loader;
    info.format = loader.size() > 4 && loader.compare(loader.size() - 4, 4, "load") == 0
                      ? loader.substr(0, loader.size() - 4)
                      : loader;
    return info;
}

SampleLayout VipsPicture::sampleLayout() const { return state_->layout; }

VImage VipsPicture::displayLevel(std::size_t level) const {
    WarningCollector collected;
    try {
        // Read once, top to bottom, by a saver.
        VImage image = withAlpha(state_->display(level, VIPS_ACCESS_SEQUENTIAL));
        warnings_->tell(collected.take());
        return image;
    } catch (const vips::VError& error) {
        failWithVips(name_, error, collected.take());
    }
}

std::unique_ptr<BandReader> VipsPicture::bands() const {
    return openVipsBands([state = state_] { return state->display(0, VIPS_ACCESS_SEQUENTIAL); }, info(),
                         warnings_);
}

std::vector<TileLevel> VipsPicture::tileLevels(std::uint32_t coarsestSide) const {
    std::vector<TileLevel> levels;
    for (std::size_t level = 0; level < levels_.size(); ++level) {
        levels.push_back({levels_[level], {}});
        // Computed levels are halved from the level before; the file's come as they are, three bands
        // where they have no alpha (the tiles are made opaque as they are copied).
        if (!state_->loads[level].computed)
            levels.back().open = [state = state_, level] { return state->tiles(level); };
    }
    for (TileSize size = levels_.back();
         coarsestSide > 0 && std::max(size.width, size.height) > coarsestSide;) {
        size = {zelvan::levelSide(size.width, 1), zelvan::levelSide(size.height, 1)};
        levels.push_back({size, {}});
    }
    return levels;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
