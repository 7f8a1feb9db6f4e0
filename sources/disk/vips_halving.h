#pragma once
// A level half the size of another, averaged as zelvan::Pyramid averages its levels: in linear
// light with colour weighted by alpha (zelvan::halveRows), through libvips' region
// pipeline, so that only what is asked for is computed.
#include <vips/vips8>

namespace zelvan {
namespace sources {
namespace detail {

// The next level of `picture` (8-bit red, green and blue, with alpha or opaque without), as 4 bands
// with alpha, sides rounded up, computed as it is asked for; any thread may read it through a
// region of its own. Throws vips::VError, for other formats too.
vips::VImage halved(const vips::VImage& picture);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
