#include "png_writer.h"

#include <png.h>

#include <csetjmp>

#include "demo_error.h"
#include "png_errors.h"

namespace zelvan_demo {

namespace {

// Holds only trivially destructible locals: libpng's errors longjmp back here.
bool encode(png_structp png, png_infop info, std::FILE* file, const RgbPicture* picture) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, picture->width, picture->height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t stride = std::size_t{picture->width} * 3;
    for (std::uint32_t y = 0; y < picture->height; ++y) png_write_row(png, picture->rgb.data() + y * stride);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

void writePng(std::FILE* file, const RgbPicture& picture, const std::string& name) {
    PngErrors errors{"not enough memory"};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, storePngError, ignorePngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    const bool written = info != nullptr && encode(png, info, file, &picture);
    png_destroy_write_struct(&png, &info);
    if (!written) throw DemoError(name + ": cannot write the PNG (" + errors.message + ")");
}

}  // namespace zelvan_demo
