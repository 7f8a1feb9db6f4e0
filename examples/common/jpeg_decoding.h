#pragma once
// libjpeg as both JPEG readers use it: errors longjmp back with their message, a file that ends
// early is an error rather than a picture padded with grey, and Adobe's CMYK becomes BGRA.
// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <csetjmp>

namespace zelvan_demo {

// After installJpegErrors, an error longjmps to `jump` (set it with setjmp in a function that holds
// only trivially destructible locals) and leaves its text in `message`.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void installJpegErrors(jpeg_decompress_struct* cinfo, JpegErrors* errors);

// Adobe's CMYK JPEGs store inverted ink values, so each channel times K is the colour.
void cmykToBgra(const std::uint8_t* cmyk, std::uint8_t* bgra, std::uint32_t width);

}  // namespace zelvan_demo
