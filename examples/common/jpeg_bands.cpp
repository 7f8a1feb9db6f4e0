// JPEG by scanlines with libjpeg(-turbo), which converts colour to BGRA itself; CMYK goes through
// one row of ink values.
#include <algorithm>
#include <vector>

#include "band_decoders.h"
#include "bgra_image.h"
#include "demo_error.h"
#include "jpeg_decoding.h"

#ifndef JCS_EXTENSIONS
#error "zelvan's demos need libjpeg-turbo, which decodes straight to BGRA"
#endif

namespace zelvan_demo {

namespace {

// Frees libjpeg's memory even when the constructor below throws.
struct JpegDecoder {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    ~JpegDecoder() { jpeg_destroy_decompress(&cinfo); }
};

class JpegBands final : public BandSource {
public:
    JpegBands(FilePtr file, const std::string& name) : file_(std::move(file)), name_(name) {
        installJpegErrors(&decoder_.cinfo, &decoder_.errors);
        if (!readHeader()) fail();
        const jpeg_decompress_struct& cinfo = decoder_.cinfo;
        checkRowsFit(cinfo.image_width, cinfo.image_height, name_);
        // A progressive file keeps every coefficient of the image until its last scan.
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
