#pragma once
// A picture on disk as a tile source: rectangles of its display-ready levels (libvips images of 8-bit
// red, green, blue and perhaps alpha) or of its raw samples, each read through a region of the
// reading thread's own, as the tile view asks for them from several threads at once.
#include <functional>
#include <memory>
#include <vector>
#include <vips/vips8>

#include "vips/vips_warnings.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// A level of the tile source: its size, and how to open it (the file's levels, opened when a tile of
// theirs is first read) or, without, that it is halved from the level before (its reads are cut into
// slices, so that what they pull from the finer levels stays small).
struct TileLevel {
    TileSize size;
    std::function<vips::VImage()> open;
};

// `levels` finest first. `info` is what info() gives; the warnings of successful reads go to
// `warnings`, those of failed ones into the failure's reason. With a `layout` other than Bgra8 the
// levels are raw samples of it, read by readSamples (read() fails), their computed levels halved in
// the samples' own type, shown through `mapping` until the program sets another.
std::unique_ptr<PictureSource> openVipsTiles(std::vector<TileLevel> levels, PictureInfo info,
                                             Warnings warnings, SampleLayout layout = {},
                                             DisplayMapping mapping = {});

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
