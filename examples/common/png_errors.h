#pragma once
// libpng's error handling as the PNG writer uses it: an error longjmps back to the setjmp
// in the calling function (which must hold only trivially destructible locals) and leaves its
// message here; warnings are dropped, since only ancillary data is at stake.
#include <png.h>

#include <cstdio>

namespace zelvan_demo {

struct PngErrors {
    char message[256];
};

// For png_create_*_struct, with a PngErrors as the error pointer.
inline void storePngError(png_structp png, png_const_charp message) {
    auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    std::snprintf(errors->message, sizeof errors->message, "%s", message);
    png_longjmp(png, 1);
}

inline void ignorePngWarning(png_structp, png_const_charp) {}

}  // namespace zelvan_demo
