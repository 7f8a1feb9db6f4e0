#pragma once
// A level half the size of another, averaged as zelvan::Pyramid averages its levels: in linear
// light with colour weighted by alpha (zelvan::detail::halveRows), through libvips' region
// pipeline, so that only what is asked for is computed.
#include <vips/vips8>

namespace zelvan_demo {

// The next level of `above` (4 bands of 8 bits, red, green, blue and alpha), sides rounded up,
// computed as it is asked for; any thread may read it through a region of its own. Throws
// vips::VError.
vips::VImage halved(const vips::VImage& above);

}  // namespace zelvan_demo
