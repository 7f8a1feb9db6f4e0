#pragma once
// A picture on disk read top to bottom: its display-ready level 0 (a libvips image of 8-bit red,
// green, blue and perhaps alpha) through one region, so that a sequential decoder runs once.
#include <memory>
#include <vips/vips8>

#include "vips_warnings.h"
#include "zelvan_sources_bands.hpp"

namespace zelvan {
namespace sources {
namespace detail {

std::unique_ptr<BandReader> openVipsBands(vips::VImage image, PictureInfo info, Warnings warnings);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
