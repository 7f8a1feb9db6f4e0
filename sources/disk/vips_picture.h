#pragma once
// A picture file opened through libvips, as the library wants it: upright (the orientation tag
// applied), in sRGB (an embedded ICC profile applied), 8 bits a sample with alpha. 8-bit samples are
// shown as they are, 16-bit integers over their full range; float samples and FITS over a range found
// from a coarse look at the picture, unless the caller sets one. Opened for raw samples, a picture
// that has more than colours (vips_samples.h) keeps them instead, a TIFF of equal pages joined as
// channels. Errors are std::runtime_error, one line naming the file; warnings go to the picture's
// WarningSink.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/pixels/vips_tiles.h"
#include "vips/vips_warnings.h"
#include "zelvan_sources_bands.hpp"

namespace vips {
class VImage;
}

namespace zelvan {
namespace sources {
namespace detail {

// An opened picture file. Cheap to open: nothing is decoded until pixels are asked for.
class VipsPicture {
public:
    // Opens `path` with libvips and reads its header and its levels; with `rawSamples`, its layout
    // too. Throws for a file that is missing, no picture libvips reads, or too wide for the
    // library's 32-bit rows.
    VipsPicture(const std::string& path, const DisplayRange& range, Warnings warnings,
                bool rawSamples = false);
    ~VipsPicture();
    VipsPicture(VipsPicture&&) noexcept;
    VipsPicture& operator=(VipsPicture&&) noexcept;

    const std::string& name() const { return name_; }
    std::uint32_t width() const { return levels_.front().width; }
    std::uint32_t height() const { return levels_.front().height; }
    const Warnings& warnings() const { return warnings_; }

    // The levels the file holds, finest first: one for a plain picture; the pages or sub-IFDs of a
    // pyramidal TIFF, OpenSlide's levels, a JPEG 2000's resolutions, with the halvings the file
    // skips computed between them. Sizes are after orientation.
    const std::vector<TileSize>& levels() const { return levels_; }
    bool pyramidal() const { return levels_.size() > 1; }

    // Its size, samples, format and levels.
    PictureInfo info() const;

    // How its tiles come: Bgra8, display-ready colours, unless it was opened for raw samples and
    // has more than colours.
    SampleLayout sampleLayout() const;
    // How its raw samples are shown unless the program says otherwise: the colours an OME-TIFF's
    // OME-XML gives its channels, else the default mapping of sampleLayout().
    DisplayMapping displayMapping() const;

    // Level 0, top to bottom (sequential access), its decoding set up at the first read.
    std::unique_ptr<BandReader> bands() const;

    // Random access to every level, for the tile view (vips_tiles.h): the file's levels, each opened
    // (display-ready, or as raw samples) when a tile of it is first read, and the computed ones between them;
    // with `coarsestSide`, halvings are added below the last until one fits within it a side.
    std::vector<TileLevel> tileLevels(std::uint32_t coarsestSide = 0) const;

    // The display-ready image of `level` with alpha (4 bands of uchar: red, green, blue, alpha), read
    // once top to bottom, for code that hands it on to libvips (a saver). Throws.
    vips::VImage displayLevel(std::size_t level) const;

private:
    // Reads an OME-TIFF's OME-XML (channel names, colours, pixel size); a broken one is a warning.
    void readOme();

    struct State;
    std::string name_;
    std::vector<TileSize> levels_;
    Warnings warnings_;
    std::shared_ptr<State> state_;  // shared with the levels and bands handed out
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
