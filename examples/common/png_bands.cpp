// PNG by rows with libpng. Interlaced files spread every row over seven passes, so they cannot be
// streamed; they go to the whole-image reader when memory can hold them.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "band_decoders.h"
#include "bgra_image.h"
#include "demo_error.h"
#include "png_bgra.h"
#include "png_errors.h"
#include "png_reader.h"

namespace zelvan_demo {

namespace {

// Frees libpng's structures even when the constructor below throws.
struct PngDecoder {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngDecoder() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

class PngBands final : public BandSource {
public:
    PngBands(FilePtr file, const std::string& name) : file_(std::move(file)), name_(name) {
        decoder_.png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors_, storePngError, ignorePngWarning);
        if (decoder_.png != nullptr) decoder_.info = png_create_info_struct(decoder_.png);
        if (decoder_.info == nullptr) throw DemoError(name_ + ": not enough memory to start the PNG decoder");
        if (!readHeader()) fail();
        checkRowsFit(width_, height_, name_);
        if (png_get_interlace_type(decoder_.png, decoder_.info) != PNG_INTERLACE_NONE) {
            checkImageFits(width_, height_, name_ + " (interlaced, so decoded whole)");
            std::rewind(file_.get());
            whole_ = readPng(file_.get(), name_, {});
        } else if (convertPngToBgra(decoder_.png, decoder_.info) == 0) {
            fail();
        }
    }

    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height_ - next_);
        if (rows == 0) return 0;
        if (whole_.pixels) {
            for (std::uint32_t i = 0; i < rows; ++i)
                std::memcpy(dst + i * pitch, whole_.row(next_ + i), whole_.pitch());
        } else if (!decodeRows(dst, pitch, rows)) {
            fail();
        }
        next_ += rows;
        return rows;
    }

private:
    [[noreturn]] void fail() const {
        throw DemoError(name_ + ": cannot decode this PNG file (" + errors_.message + ")");
    }

    // These run libpng, which longjmps back on error: no locals with destructors.
    bool readHeader() {
        if (setjmp(png_jmpbuf(decoder_.png))) return false;
        png_set_read_fn(decoder_.png, file_.get(), readPngFromFile);
        // The band size, not libpng's default million-pixel cap, decides what is too large.
        png_set_user_limits(decoder_.png, 0x7fffffffu, 0x7fffffffu);
        png_read_info(decoder_.png, decoder_.info);
        width_ = png_get_image_width(decoder_.png, decoder_.info);
        height_ = png_get_image_height(decoder_.png, decoder_.info);
        return true;
    }

    bool decodeRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) {
        if (setjmp(png_jmpbuf(decoder_.png))) return false;
        for (std::uint32_t i = 0; i < rows; ++i) png_read_row(decoder_.png, dst + i * pitch, nullptr);
        // Reading on to the end chunk shows a file cut off after its last row.
        if (next_ + rows == height_) png_read_end(decoder_.png, nullptr);
        return true;
    }

    FilePtr file_;
    std::string name_;
    PngErrors errors_{};
    PngDecoder decoder_;
    std::uint32_t width_ = 0, height_ = 0, next_ = 0;
    BgraImage whole_;  // interlaced files only
};

}  // namespace

std::unique_ptr<BandSource> openPngBands(FilePtr file, const std::string& name) {
    return std::make_unique<PngBands>(std::move(file), name);
}

}  // namespace zelvan_demo
