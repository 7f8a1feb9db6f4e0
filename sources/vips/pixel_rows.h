#pragma once
// The library's pixels as libvips gives them: 8-bit red, green, blue and, where they have it, alpha,
// made the rows of blue-green-red-alpha the library takes. The one place red and blue are exchanged,
// and opaque alpha added, for both rooms.
#include <cstddef>
#include <cstdint>
#include <vips/vips8>

namespace zelvan {
namespace sources {
namespace detail {

// Rows [top, top + rows) of columns [left, left + width) of a prepared region of 3 or 4 bands into
// blue-green-red-alpha rows at `dst`, `pitch` bytes apart (opaque where the region has no alpha).
void copyRows(VipsRegion* region, int left, int top, std::uint32_t width, std::uint32_t rows,
              unsigned char* dst, std::size_t pitch);
inline void copyRows(const vips::VRegion& region, int left, int top, std::uint32_t width, std::uint32_t rows,
                     unsigned char* dst, std::size_t pitch) {
    copyRows(region.get_region(), left, top, width, rows, dst, pitch);
}

// An 8-bit image of red, green and blue with four bands: opaque alpha added where it has none (lazily,
// as libvips does; throws vips::VError when it cannot be made).
vips::VImage withAlpha(const vips::VImage& rgb);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
