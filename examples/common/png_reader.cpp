#include <png.h>

#include <csetjmp>
#include <cstring>

#include "image_reading.h"
#include "png_errors.h"
#include "program.h"

namespace zelvan_demo {

namespace {

// fread, but a short read names the likely cause: a file cut off in transfer.
void readFromFile(png_structp png, png_bytep data, png_size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, file) != length)
        png_error(png, std::ferror(file) ? "read error" : "the file ends too early; it is truncated");
}

bool readHeader(png_structp png, png_infop info, std::FILE* file, png_uint_32* width, png_uint_32* height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, file, readFromFile);
    // The memory check, not libpng's default million-pixel cap, decides what is too large.
    png_set_user_limits(png, 0x7fffffffu, 0x7fffffffu);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    return true;
}

// Sets the transformations that turn every PNG flavour into 8-bit BGRA and returns the number of
// interlace passes, or 0 after an error.
int convertToBgra(png_structp png, png_infop info) {
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

bool readRows(png_structp png, BgraImage* image, int passes, const ProgressFn* rowsDone) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < passes; ++pass) {
        const bool last = pass == passes - 1;
        for (std::uint32_t y = 0; y < image->height; ++y) {
            png_read_row(png, image->row(y), nullptr);
            // A row holds its final pixels only after the last interlace pass.
            if (last && *rowsDone) (*rowsDone)(y + 1, image->height);
        }
    }
    png_read_end(png, nullptr);  // reaches the end of the image data, so truncation shows
    return true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

}  // namespace

BgraImage readPng(std::FILE* file, const std::string& name, const ProgressFn& rowsDone) {
    PngErrors errors{};
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, storePngError, ignorePngWarning);
    if (reader.png != nullptr) reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr) throw DemoError(name + ": not enough memory to start the PNG decoder");

    const auto fail = [&]() {
        return DemoError(name + ": cannot decode this PNG file (" + errors.message + ")");
    };
    png_uint_32 width = 0, height = 0;
    if (!readHeader(reader.png, reader.info, file, &width, &height)) throw fail();
    checkImageFits(width, height, name);
    const int passes = convertToBgra(reader.png, reader.info);
    if (passes == 0) throw fail();
    BgraImage image = allocateImage(width, height, name);
    if (!readRows(reader.png, &image, passes, &rowsDone)) throw fail();
    return image;
}

}  // namespace zelvan_demo
