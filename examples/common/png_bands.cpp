// PNG by rows with libpng, every flavour turned into 8-bit BGRA. An interlaced file spreads every
// row over seven passes, so it cannot be streamed: it is decoded whole at the first read, when
// memory can hold it, and handed out from there.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "image_decoders.h"
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
        passes_ = convertToBgra();
        if (passes_ == 0) fail();
        if (passes_ > 1) checkImageFits(width_, height_, name_ + " (interlaced, so decoded whole)");
    }

    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }

    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        rows = std::min(rows, height_ - next_);
        if (rows == 0) return 0;
        if (passes_ > 1) {
            if (!whole_.pixels) {
                whole_ = allocateImage(width_, height_, name_);
                if (!decodeRows(whole_.row(0), whole_.pitch(), height_)) fail();
            }
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
        png_set_read_fn(decoder_.png, file_.get(), readFromFile);
        // The band size, not libpng's default million-pixel cap, decides what is too large.
        png_set_user_limits(decoder_.png, 0x7fffffffu, 0x7fffffffu);
        png_read_info(decoder_.png, decoder_.info);
        width_ = png_get_image_width(decoder_.png, decoder_.info);
        height_ = png_get_image_height(decoder_.png, decoder_.info);
        return true;
    }

    // Sets the transformations that turn every PNG flavour into 8-bit BGRA and returns the number
    // of interlace passes, or 0 after an error.
    int convertToBgra() {
        png_structp png = decoder_.png;
        if (setjmp(png_jmpbuf(png))) return 0;
        png_set_expand(png);  // palette and low-depth grey to 8 bits, transparency chunk to alpha
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);  // only where the file has no alpha
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, decoder_.info);
        if (png_get_rowbytes(png, decoder_.info) != png_size_t{width_} * 4) {
            std::snprintf(errors_.message, sizeof errors_.message, "unsupported pixel layout");
            return 0;
        }
        return passes;
    }

    // The next `rows` rows, or with interlacing every pass over the whole picture.
    bool decodeRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) {
        if (setjmp(png_jmpbuf(decoder_.png))) return false;
        for (int pass = 0; pass < passes_; ++pass)
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
    int passes_ = 1;
    BgraImage whole_;  // interlaced files only
};

}  // namespace

std::unique_ptr<BandSource> openPngBands(FilePtr file, const std::string& name) {
    return std::make_unique<PngBands>(std::move(file), name);
}

}  // namespace zelvan_demo
