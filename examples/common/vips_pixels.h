#pragma once
// Display-ready libvips images (8-bit red, green, blue and, where they have it, alpha) handed out as the
// library takes them: blue-green-red-alpha rows, in bands or in tiles.
#include <memory>
#include <string>
#include <vector>
#include <vips/vips8>

#include "vips_picture.h"

namespace zelvan_demo {

// `image` top to bottom through one region, so that a sequential decoder runs once, band after band.
std::unique_ptr<BandSource> openVipsBands(vips::VImage image, const std::string& name);

// Rectangles of `levels` (finest first), each read through a region of the reading thread's own.
std::unique_ptr<PictureTiles> openVipsTiles(std::vector<vips::VImage> levels);

}  // namespace zelvan_demo
