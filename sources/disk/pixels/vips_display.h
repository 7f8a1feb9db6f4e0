#pragma once
// How a picture's samples, whatever their format and colour space, become 8-bit sRGB (with alpha).
#include <functional>
#include <vips/vips8>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// The samples of the colour bands mapped linearly from [min, max] to the full 8 bits (or, for
// linear light, to 0..1 before the sRGB curve), or left as they are; alpha scaled by alphaScale.
struct SampleMapping {
    bool linear = false;
    double min = 0, max = 255;
    double alphaScale = 1;
};

// What mapping level 0 needs, from its header and the range asked for. `sample` gives a small
// version of the picture (about a megapixel at most) when percentiles have to be taken.
SampleMapping chooseMapping(const vips::VImage& image, bool fits, const DisplayRange& range,
                            const std::function<vips::VImage()>& sample);

// The 0.5th and 99.5th percentiles of the finite colour samples of `image` (min < max).
void findPercentiles(const vips::VImage& image, double& min, double& max);

// `image` as 8-bit red, green and blue, with alpha where it has any: three bands or four. Plain 8-bit
// sRGB is handed on as it is, without a pass over its pixels.
vips::VImage toDisplay(vips::VImage image, const SampleMapping& mapping);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
