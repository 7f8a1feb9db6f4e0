#pragma once
// The decoders behind openBandSource, one per file format, and the pieces of the TIFF one. `name`
// labels the messages; every failure is a DemoError of one line ("photo.tif: cannot decode this
// TIFF file (...)").
#include <tiffio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "image_reading.h"

namespace zelvan_demo {

// Rows of blue-green-red-alpha pixels, tightly packed, top row first: a picture held whole
// (an interlaced PNG).
struct BgraImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<std::uint8_t[]> pixels;

    std::size_t pitch() const { return std::size_t{width} * 4; }
    std::uint8_t* row(std::uint32_t y) { return pixels.get() + y * pitch(); }
    const std::uint8_t* row(std::uint32_t y) const { return pixels.get() + y * pitch(); }
};

// Throws DemoError (naming `source`) unless a width x height image fits in memoryLimit bytes and
// its rows fit the library's 32-bit pitch. Checked before anything large is allocated.
void checkImageFits(std::uint32_t width, std::uint32_t height, const std::string& source,
                    std::uint64_t memoryLimit = memoryLimitBytes());

// Checks the size as above, then allocates the pixels (uninitialised); a failed allocation is
// reported as DemoError too.
BgraImage allocateImage(std::uint32_t width, std::uint32_t height, const std::string& source);

// Throws DemoError unless rows of `width` pixels fit the library's 32-bit pitch; whether the whole
// picture fits memory does not matter when it is read in bands.
void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// PNG row by row; an interlaced PNG is decoded whole at the first read, if memory can hold it.
std::unique_ptr<BandSource> openPngBands(FilePtr file, const std::string& name);
// JPEG scanline by scanline: grey, colour or CMYK.
std::unique_ptr<BandSource> openJpegBands(FilePtr file, const std::string& name);
// TIFF through libtiff, by strips or tiles, turned upright by its orientation tag. It decodes a
// window of about `windowBytes` ahead (at least a strip or a row of tiles), sixteen times that
// where each window costs a pass over the file.
constexpr std::uint64_t kTiffWindowBytes = 16u << 20;
std::unique_ptr<BandSource> openTiffBands(const std::string& path,
                                          std::uint64_t windowBytes = kTiffWindowBytes);

// --- The TIFF decoder's pieces ---

// The largest strip, tile or row buffer a TIFF may ask for; anything larger is a damaged file.
constexpr std::uint64_t kMaxTiffChunkBytes = 256u << 20;

// An open TIFF file whose libtiff errors and warnings are caught instead of printed.
class TiffFile {
public:
    explicit TiffFile(const std::string& path);
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return tiff_; }
    const std::string& name() const { return name_; }

    [[noreturn]] void fail(const std::string& reason) const;
    // Fails with what libtiff last reported since clearError().
    [[noreturn]] void failWithLibtiffError() const;
    void clearError() { error_[0] = 0; }

    // Fails unless strip or tile `index` (what names which) lies within the file, so that a
    // damaged offset is reported as such and never makes libtiff allocate what the file lacks.
    void checkWithinFile(std::uint32_t index, const char* what) const;

private:
    static int onError(TIFF*, void* self, const char* module, const char* format, va_list args);
    static int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    std::string name_;
    char error_[512] = {};  // no allocation inside libtiff's callback
    TIFF* tiff_ = nullptr;
    std::uint64_t size_ = 0;
};

// How the samples of one TIFF become blue-green-red-alpha pixels: 1- to 16-bit grey (either
// polarity), palette, RGB, CMYK and JPEG-compressed YCbCr, each with or without alpha.
class TiffPixels {
public:
    // Reads the current directory's tags and sets libtiff to hand out samples this class knows;
    // fails (through `file`) with one line naming what is not supported.
    explicit TiffPixels(TiffFile& file);

    // Converts `count` pixels, starting at pixel `first` of a decoded row of samples; pixel i goes
    // to dst + i * step, so that a run may be laid down mirrored or as a column.
    void convert(const std::uint8_t* row, std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                 std::ptrdiff_t step) const;

private:
    enum class Model { Lookup, Rgb, Cmyk };
    void checkCompression(TiffFile& file, std::uint16_t compression, unsigned bits) const;
    unsigned chooseModel(TiffFile& file, std::uint16_t photometric, std::uint16_t compression);
    void fillLookup(TiffFile& file, std::uint16_t photometric);
    template <typename Sample>
    void convertSamples(const std::uint8_t* row, std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                        std::ptrdiff_t step) const;
    void convertPacked(const std::uint8_t* row, std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                       std::ptrdiff_t step) const;
    void finishPixel(const std::uint8_t* samples, std::uint8_t* dst) const;

    Model model_ = Model::Lookup;
    unsigned bits_ = 8, samples_ = 1, colours_ = 1;
    bool alpha_ = false, premultiplied_ = false;
    // Grey levels or palette colours as BGRA, indexed by the sample (its top 8 bits when wider).
    std::array<std::array<std::uint8_t, 4>, 256> lookup_{};
};

}  // namespace zelvan_demo
