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

// What both halvings (this one and vips_sample_halving's) share. An image half the size of `above`
// (sides rounded up), of `bands` bands of `format`, whose regions `generate` makes from a region of
// `above` (its sequence, prepared by prepareBelow); `above` lives as long as it. Throws vips::VError.
vips::VImage halvedImage(const vips::VImage& above, int bands, VipsBandFormat format,
                         VipsInterpretation interpretation, VipsGenerateFn generate);

// Prepares the rows and columns of `in` (a region of `above`) under the output rectangle `out`, clipped
// to `above`, into `need`; false when libvips cannot.
bool prepareBelow(VipsRegion* in, const VipsRect& out, const VipsImage* above, VipsRect& need);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
