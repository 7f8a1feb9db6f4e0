#include "image_reading.h"

// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <vector>

#include "program.h"

#ifndef JCS_EXTENSIONS
#error "zelvan's demos need libjpeg-turbo, which decodes straight to BGRA"
#endif

namespace zelvan_demo {

namespace {

// libjpeg reports errors through error_exit, which must not return; it longjmps back into the
// functions below, which hold only trivially destructible locals.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    cinfo->err->format_message(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// libjpeg only warns about a file that ends early and pads the image with grey; such a file is
// an error here, so that no half-grey picture is ever drawn. Other warnings stay quiet.
void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
        std::snprintf(errors->message, sizeof errors->message, "the file ends too early; it is truncated");
        std::longjmp(errors->jump, 1);
    }
}

bool readHeader(jpeg_decompress_struct* cinfo, JpegErrors* errors, std::FILE* file) {
    if (setjmp(errors->jump)) return false;
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    return true;
}

// Adobe's CMYK JPEGs store inverted ink values, so each channel times K is the colour.
void cmykToBgra(const std::uint8_t* cmyk, std::uint8_t* bgra, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x, cmyk += 4, bgra += 4) {
        const unsigned k = cmyk[3];
        bgra[0] = std::uint8_t(cmyk[2] * k / 255);
        bgra[1] = std::uint8_t(cmyk[1] * k / 255);
        bgra[2] = std::uint8_t(cmyk[0] * k / 255);
        bgra[3] = 255;
    }
}

// Decodes every scanline into the image; a CMYK file goes through `cmykRow` first.
bool readRows(jpeg_decompress_struct* cinfo, JpegErrors* errors, BgraImage* image, std::uint8_t* cmykRow,
              const ProgressFn* rowsDone) {
    if (setjmp(errors->jump)) return false;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        const std::uint32_t y = cinfo->output_scanline;
        JSAMPROW row = cmykRow != nullptr ? cmykRow : image->row(y);
        jpeg_read_scanlines(cinfo, &row, 1);
        if (cmykRow != nullptr) cmykToBgra(cmykRow, image->row(y), image->width);
        if (*rowsDone) (*rowsDone)(y + 1, image->height);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

struct JpegReader {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};

}  // namespace

BgraImage readJpeg(std::FILE* file, const std::string& name, const ProgressFn& rowsDone) {
    JpegReader reader;
    reader.cinfo.err = jpeg_std_error(&reader.errors.manager);
    reader.errors.manager.error_exit = onError;
    reader.errors.manager.emit_message = onMessage;

    const auto fail = [&]() {
        return DemoError(name + ": cannot decode this JPEG file (" + reader.errors.message + ")");
    };
    if (!readHeader(&reader.cinfo, &reader.errors, file)) throw fail();
    const std::uint32_t width = reader.cinfo.image_width, height = reader.cinfo.image_height;
    BgraImage image = allocateImage(width, height, name);
    std::vector<std::uint8_t> cmykRow;
    if (reader.cinfo.out_color_space == JCS_CMYK) cmykRow.resize(std::size_t{width} * 4);
    if (!readRows(&reader.cinfo, &reader.errors, &image, cmykRow.empty() ? nullptr : cmykRow.data(),
                  &rowsDone))
        throw fail();
    return image;
}

}  // namespace zelvan_demo
