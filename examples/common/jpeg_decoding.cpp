#include "jpeg_decoding.h"

// clang-format off
#include <jerror.h>
// clang-format on

namespace zelvan_demo {

namespace {

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

}  // namespace

void installJpegErrors(jpeg_decompress_struct* cinfo, JpegErrors* errors) {
    cinfo->err = jpeg_std_error(&errors->manager);
    errors->manager.error_exit = onError;
    errors->manager.emit_message = onMessage;
}

void cmykToBgra(const std::uint8_t* cmyk, std::uint8_t* bgra, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x, cmyk += 4, bgra += 4) {
        const unsigned k = cmyk[3];
        bgra[0] = std::uint8_t(cmyk[2] * k / 255);
        bgra[1] = std::uint8_t(cmyk[1] * k / 255);
        bgra[2] = std::uint8_t(cmyk[0] * k / 255);
        bgra[3] = 255;
    }
}

}  // namespace zelvan_demo
