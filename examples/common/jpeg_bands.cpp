// JPEG by scanlines with libjpeg-turbo, which converts colour to BGRA itself; CMYK goes through
// one row of ink values. A progressive file keeps every coefficient of the image until its last
// scan, so it must fit in memory.
// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <vector>

#include "image_decoders.h"
#include "program.h"

#ifndef JCS_EXTENSIONS
#error "zelvan's demos need libjpeg-turbo, which decodes straight to BGRA"
#endif

namespace zelvan_demo {

namespace {

// libjpeg reports errors through error_exit, which must not return; it longjmps back into the
// decoder's functions, which hold only trivially destructible locals.
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

// Frees libjpeg's memory even when the constructor below throws.
struct JpegDecoder {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    ~JpegDecoder() { jpeg_destroy_decompress(&cinfo); }
};

class JpegBands final : public BandSource {
public:
    JpegBands(FilePtr file, const std::string& name) : file_(std::move(file)), name_(name) {
        decoder_.cinfo.err = jpeg_std_error(&decoder_.errors.manager);
        decoder_.errors.manager.error_exit = onError;
        decoder_.errors.manager.emit_message = onMessage;
        if (!readHeader()) fail();
        const jpeg_decompress_struct& cinfo = decoder_.cinfo;
        checkRowsFit(cinfo.image_width, cinfo.image_height, name_);
        if (cinfo.progressive_mode)
            checkImageFits(cinfo.image_width, cinfo.image_height, name_ + " (progressive, so held whole)");
        if (cinfo.out_color_space == JCS_CMYK) cmykRow_.resize(std::size_t{cinfo.image_width} * 4);
        if (!start()) fail();
    }

    std::uint32_t width() const override { return decoder_.cinfo.output_width; }
    std::uint32_t height() const override { return decoder_.cinfo.output_height; }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height() - next_);
        if (rows > 0 && !decodeRows(dst, pitch, rows)) fail();
        next_ += rows;
        return rows;
    }

private:
    [[noreturn]] void fail() const {
        throw DemoError(name_ + ": cannot decode this JPEG file (" + decoder_.errors.message + ")");
    }

    // These run libjpeg, which longjmps back on error: no locals with destructors.
    bool readHeader() {
        if (setjmp(decoder_.errors.jump)) return false;
        jpeg_create_decompress(&decoder_.cinfo);
        jpeg_stdio_src(&decoder_.cinfo, file_.get());
        jpeg_read_header(&decoder_.cinfo, TRUE);
        const J_COLOR_SPACE space = decoder_.cinfo.jpeg_color_space;
        decoder_.cinfo.out_color_space = space == JCS_CMYK || space == JCS_YCCK ? JCS_CMYK : JCS_EXT_BGRA;
        return true;
    }

    bool start() {
        if (setjmp(decoder_.errors.jump)) return false;
        jpeg_start_decompress(&decoder_.cinfo);
        return true;
    }

    bool decodeRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) {
        if (setjmp(decoder_.errors.jump)) return false;
        jpeg_decompress_struct* cinfo = &decoder_.cinfo;
        const std::uint32_t end = next_ + rows;
        for (std::uint8_t* out = dst; cinfo->output_scanline < end; out += pitch) {
            JSAMPROW row = cmykRow_.empty() ? out : cmykRow_.data();
            jpeg_read_scanlines(cinfo, &row, 1);
            if (!cmykRow_.empty()) cmykToBgra(cmykRow_.data(), out, cinfo->output_width);
        }
        if (end == cinfo->output_height) jpeg_finish_decompress(cinfo);
        return true;
    }

    FilePtr file_;
    std::string name_;
    JpegDecoder decoder_;
    std::vector<std::uint8_t> cmykRow_;
    std::uint32_t next_ = 0;
};

}  // namespace

std::unique_ptr<BandSource> openJpegBands(FilePtr file, const std::string& name) {
    return std::make_unique<JpegBands>(std::move(file), name);
}

}  // namespace zelvan_demo
