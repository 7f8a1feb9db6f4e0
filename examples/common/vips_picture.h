#pragma once
// Pictures read through libvips, as the library wants them: upright (the orientation tag applied),
// in sRGB (an embedded ICC profile applied), 8 bits a sample with alpha, as rows of
// blue-green-red-alpha. 8-bit samples are shown as they are, 16-bit integers over their full range;
// float samples and FITS over a range found from a coarse look at the picture, unless the caller
// sets one. Every libvips error and warning becomes one DemoError line naming the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_reading.h"
#include "zelvan_tiles.hpp"

namespace vips {
class VImage;
}

namespace zelvan_demo {

// Starts libvips once per process (later calls do nothing); throws DemoError if it cannot.
void startVips();

// How samples map to 0..255: as their format says, from the picture's own percentiles, or a fixed
// range in sample units.
struct DisplayRange {
    enum class Mode { Default, Auto, Fixed };
    Mode mode = Mode::Default;
    double min = 0, max = 0;  // Fixed only
};

// "auto" or "MIN,MAX" (MIN < MAX, finite); throws DemoError with one line otherwise.
DisplayRange parseDisplayRange(const std::string& text);

// One level of a picture: its size, as the file holds it (level 0 the full size).
struct PictureLevel {
    std::uint32_t width = 0, height = 0;
};

// The tile source tiles() makes, with the reason its last failed read failed.
class PictureTiles : public zelvan::TileSource {
public:
    virtual std::string lastError() const = 0;
};

// An opened picture file. Cheap to open: nothing is decoded until pixels are asked for.
class VipsPicture {
public:
    // Opens `path` with libvips and reads its header. Throws DemoError (one line, with libvips'
    // reason when it gives one) for a file that is missing, no picture libvips reads, or too large
    // for the library's 32-bit rows.
    VipsPicture(const std::string& path, const DisplayRange& range = {});
    ~VipsPicture();
    VipsPicture(VipsPicture&&) noexcept;
    VipsPicture& operator=(VipsPicture&&) noexcept;

    const std::string& name() const { return name_; }
    std::uint32_t width() const { return levels_.front().width; }
    std::uint32_t height() const { return levels_.front().height; }

    // The levels the file holds, finest first: one for a plain picture; the pages or sub-IFDs of a
    // pyramidal TIFF, OpenSlide's levels, a JPEG 2000's resolutions. Sizes are after orientation.
    const std::vector<PictureLevel>& levels() const { return levels_; }
    bool pyramidal() const { return levels_.size() > 1; }

    // Level 0, top to bottom, in bands (sequential access: only a band and what the format makes
    // its decoder hold are in memory). Reads throw DemoError.
    std::unique_ptr<BandSource> bands() const;

    // Random access to a rectangle of any level, for zelvan::TileView; safe to call from several
    // threads at once. A read that fails returns false (and keeps its reason for lastError()).
    std::unique_ptr<PictureTiles> tiles() const;

    // The display-ready image of `level` (4 bands of uchar, blue-green-red-alpha order not yet
    // applied: red, green, blue, alpha), for code that hands it on to libvips.
    vips::VImage displayLevel(std::size_t level) const;

private:
    struct State;
    std::string name_;
    std::vector<PictureLevel> levels_;
    std::unique_ptr<State> state_;
};

}  // namespace zelvan_demo
