#pragma once
// A decoded picture libvips holds (a remote tile, a crop of a remote TIFF's level) written out as the
// library's 8-bit blue-green-red-alpha rows, computed on the calling thread, so that what libvips logs
// meanwhile goes to that thread's collector (vips_warnings.h) and so to its own picture.
#include <vips/vips.h>

#include <cstddef>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

// Starts libvips as vips_session.h does, on first use; false when it cannot be.
bool vipsStarted();
// libvips' last error, its first line, and clears it.
std::string vipsError();
// Writes `image` (which is only borrowed), or its rectangle `area` (within it) where one is given, into
// rows `pitch` bytes apart, as sRGB with alpha, 8 bits a sample: the whole image is computed either
// way. False with the reason when it cannot be computed.
bool writeBgra(VipsImage* image, unsigned char* pixels, std::size_t pitch, std::string& error,
               const VipsRect* area = nullptr);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
