#pragma once
// A picture on disk read top to bottom: its display-ready level 0 (a libvips image of 8-bit red,
// green, blue and perhaps alpha) through one region, so that a sequential decoder runs once.
#include <functional>
#include <memory>
#include <vips/vips8>

#include "vips/vips_warnings.h"
#include "zelvan_sources_bands.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// `open` gives the image; it is called at the first read, its failure that read's.
std::unique_ptr<BandReader> openVipsBands(std::function<vips::VImage()> open, PictureInfo info,
                                          Warnings warnings);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
