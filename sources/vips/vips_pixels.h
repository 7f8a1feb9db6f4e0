#pragma once
// libvips for the remote pictures: started once, its errors read as one line, and any picture it holds
// written out as 8-bit blue-green-red-alpha rows.
#include <vips/vips.h>

#include <cstddef>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

// Starts libvips on first use; false when it cannot be.
bool vipsStarted();
// libvips' last error, its first line, and clears it.
std::string vipsError();
// Writes `image` (which is only borrowed) into rows `pitch` bytes apart, as sRGB with alpha, 8 bits a
// sample; false with the reason when it cannot be computed.
bool writeBgra(VipsImage* image, unsigned char* pixels, std::size_t pitch, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
