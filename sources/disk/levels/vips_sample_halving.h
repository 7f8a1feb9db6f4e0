#pragma once
// A level of raw samples half the size of another: each sample the mean of the (up to) four below
// it, in the samples' own type, integers rounded to the nearest; for floats NaN is left out of the
// mean (a sample is NaN only where all four are), so that a few missing values do not spread as a
// level coarsens. Computed through libvips' region pipeline as it is asked for.
#include <vips/vips8>

namespace zelvan {
namespace sources {
namespace detail {

// The next level of `samples` (8- or 16-bit integers or floats, any number of bands), sides rounded
// up. Throws vips::VError for other formats.
vips::VImage halvedSamples(const vips::VImage& samples);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
