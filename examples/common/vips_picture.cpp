#include "vips_picture.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vips/vips8>

#include "program.h"
#include "vips_display.h"
#include "vips_halving.h"
#include "vips_levels.h"
#include "vips_pixels.h"
#include "vips_session.h"

namespace zelvan_demo {

using vips::VImage;

namespace {

// Percentiles come from a picture of about this many pixels at most.
constexpr double kSamplePixels = 1e6;

// Loaders that decode top to bottom only: opened for random access, they first decode the whole
// picture, so a sample is taken from them sequentially.
bool sequentialOnly(const std::string& loader) {
    for (const char* name : {"pngload", "jpegload", "webpload", "gifload", "heifload", "jxlload"})
        if (loader == name) return true;
    return false;
}

void checkFileExists(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        throw DemoError(path + ": cannot open (" + std::strerror(errno) + ")");
    if (S_ISDIR(status.st_mode)) throw DemoError(path + ": is a directory, not an image");
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
        takeVipsReason();
        // libvips recognises a TIFF only once libtiff can open it; a damaged one is still a TIFF,
        // and tiffload says what is wrong with it.
        if (startsLikeTiff(path)) return "tiffload";
        throw DemoError(path + ": not a picture format libvips reads");
    }
    const char* nickname =
        vips_nickname_find(g_type_from_name(loader));  // "VipsForeignLoadPngFile": "pngload"
    return nickname ? nickname : loader;
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

    const SampleMapping& sampleMapping() {
        std::call_once(mapped,
                       [this] { mapping = chooseMapping(first, fits, range, [this] { return sample(); }); });
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
};

VipsPicture::VipsPicture(const std::string& path, const DisplayRange& range)
    : name_(path), state_(std::make_unique<State>()) {
    startVips();
    checkFileExists(path);
    State& state = *state_;
    state.path = path;
    state.range = range;
    state.loader = findLoader(path);
    try {
        state.first = openLevel(path, state.loader, {}, VIPS_ACCESS_RANDOM);
        checkVipsWarnings(path);
        state.fits = state.loader == "fitsload";
        state.upright = vips_image_get_orientation(state.first.get_image()) == 1;
        findLevels(path, state.loader, state.first, state.loads, levels_);
        checkVipsWarnings(path);
    } catch (const vips::VError& error) {
        failWithVips(path, error);
    }
    checkRowsFit(width(), height(), path);
}

VipsPicture::~VipsPicture() = default;
VipsPicture::VipsPicture(VipsPicture&&) noexcept = default;
VipsPicture& VipsPicture::operator=(VipsPicture&&) noexcept = default;

VImage VipsPicture::displayLevel(std::size_t level) const {
    try {
        // Read once, top to bottom, by a saver.
        return withAlpha(state_->display(level, VIPS_ACCESS_SEQUENTIAL));
    } catch (const vips::VError& error) {
        failWithVips(name_, error);
    }
}

std::unique_ptr<BandSource> VipsPicture::bands() const {
    try {
        return openVipsBands(state_->display(0, VIPS_ACCESS_SEQUENTIAL), name_);
    } catch (const vips::VError& error) {
        failWithVips(name_, error);
    }
}

std::unique_ptr<PictureTiles> VipsPicture::tiles() const {
    try {
        std::vector<VImage> images;
        // Computed levels from the level before; the file's as they come, three bands where they
        // have no alpha (the tiles are made opaque as they are copied).
        for (std::size_t level = 0; level < levels_.size(); ++level)
            images.push_back(state_->loads[level].computed ? halved(images.back())
                                                           : state_->display(level, VIPS_ACCESS_RANDOM));
        return openVipsTiles(std::move(images));
    } catch (const vips::VError& error) {
        failWithVips(name_, error);
    }
}

DisplayRange parseDisplayRange(const std::string& text) {
    DisplayRange range;
    if (text == "auto") {
        range.mode = DisplayRange::Mode::Auto;
        return range;
    }
    const std::size_t comma = text.find(',');
    const auto number = [](const std::string& part, double& value) {
        char* end = nullptr;
        value = std::strtod(part.c_str(), &end);
        return !part.empty() && end == part.c_str() + part.size() && std::isfinite(value);
    };
    if (comma == std::string::npos || !number(text.substr(0, comma), range.min) ||
        !number(text.substr(comma + 1), range.max) || !(range.min < range.max))
        throw DemoError("--range: '" + text + "' is neither 'auto' nor MIN,MAX with MIN < MAX");
    range.mode = DisplayRange::Mode::Fixed;
    return range;
}

std::unique_ptr<BandSource> openBandSource(const std::string& path, const DisplayRange& range) {
    return VipsPicture(path, range).bands();
}

std::unique_ptr<BandSource> openBandSource(const std::string& path) { return openBandSource(path, {}); }

}  // namespace zelvan_demo
