#pragma once
// libpng set up the way both PNG readers want it: reading from a FILE, rows as 8-bit BGRA.
// Both functions follow png_errors.h: an error longjmps to the caller's setjmp.
#include <png.h>

namespace zelvan_demo {

// For png_set_read_fn with a FILE* as the io pointer: a short read is reported as a truncated file.
void readPngFromFile(png_structp png, png_bytep data, png_size_t length);

// Sets the transformations that turn every PNG flavour into 8-bit BGRA and returns the number of
// interlace passes, or 0 after an error (the message left in the PngErrors).
int convertPngToBgra(png_structp png, png_infop info);

}  // namespace zelvan_demo
