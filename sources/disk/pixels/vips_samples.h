#pragma once
// A picture's samples as they are, for programs that map them to colours themselves (OpenOptions::
// rawSamples): which pictures are offered so, the layout the tile view is told, the samples cast to
// it and copied out of a libvips region interleaved.
#include <cstddef>
#include <cstdint>
#include <vips/vips8>

#include "zelvan_mapping.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// The layout `image` (level 0 as the file has it, `pages` of it joined as channels) is offered raw
// in: 16-bit, float and other wide samples, and 8-bit ones past grey, RGB and RGBA (or joined from
// pages). Bgra8 for what keeps the display path: 8-bit grey, grey with alpha, RGB, RGBA, coded
// samples (LabQ, Radiance), and more than 64 channels, which no mapping shows.
SampleLayout rawLayout(const vips::VImage& image, int pages);

// `image` cast to `type`: 8-bit signed samples widen to 16 bits, 32-bit integers, doubles and the
// modulus of complex samples narrow to float.
vips::VImage toSamples(vips::VImage image, SampleType type);

// Rows [top, top + rows) of columns [left, left + width) of a prepared region of samples as they
// are, `bytesPerPixel` a pixel, into rows at `dst`, `pitch` bytes apart.
void copySampleRows(const vips::VRegion& region, int left, int top, std::uint32_t width, std::uint32_t rows,
                    std::size_t bytesPerPixel, unsigned char* dst, std::size_t pitch);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
