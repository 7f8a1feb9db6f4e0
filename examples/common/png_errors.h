#pragma once
// libpng's error handling as the demo programs use it: an error longjmps back to the setjmp in
// the calling function (which must hold only trivially destructible locals) and leaves its
// message here; warnings are dropped, since only ancillary data is at stake.
#include <png.h>

namespace zelvan_demo {

struct PngErrors {
    char message[256];
};

// For png_create_*_struct, with a PngErrors as the error pointer.
void storePngError(png_structp png, png_const_charp message);
void ignorePngWarning(png_structp png, png_const_charp message);

}  // namespace zelvan_demo
