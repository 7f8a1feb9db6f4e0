#include "png_bgra.h"

#include <csetjmp>
#include <cstdio>

#include "png_errors.h"

namespace zelvan_demo {

void readPngFromFile(png_structp png, png_bytep data, png_size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, file) != length)
        png_error(png, std::ferror(file) ? "read error" : "the file ends too early; it is truncated");
}

int convertPngToBgra(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return 0;
    png_set_expand(png);  // palette and low-depth grey to 8 bits, transparency chunk to alpha
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);  // only where the file has no alpha
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_size_t{png_get_image_width(png, info)} * 4) {
        std::snprintf(static_cast<PngErrors*>(png_get_error_ptr(png))->message, sizeof(PngErrors::message),
                      "unsupported pixel layout");
        return 0;
    }
    return passes;
}

}  // namespace zelvan_demo
