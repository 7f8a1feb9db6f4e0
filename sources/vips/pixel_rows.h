#pragma once
// Display-ready pixels (8-bit red, green, blue and, where they have it, alpha) copied out of a libvips
// region as the library takes them: rows of blue-green-red-alpha.
#include <cstddef>
#include <cstdint>
#include <vips/vips8>

namespace zelvan {
namespace sources {
namespace detail {

// Rows [top, top + rows) of columns [left, left + width) of a prepared region of 3 or 4 bands into
// blue-green-red-alpha rows at `dst`, `pitch` bytes apart (opaque where the region has no alpha).
void copyRows(const vips::VRegion& region, int left, int top, std::uint32_t width, std::uint32_t rows,
              unsigned char* dst, std::size_t pitch);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
