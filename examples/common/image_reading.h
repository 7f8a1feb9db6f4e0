#pragma once
// Image files read as the library wants them, as rows of blue-green-red-alpha: PNG (any colour type,
// bit depth and interlacing), JPEG (grey, colour or CMYK) and TIFF (strips or tiles, BigTIFF, grey,
// palette, RGB and CMYK, with or without alpha, 16 bits reduced to 8, any orientation). They are
// decoded band by band, top to bottom, so that a picture far larger than memory can still be shown:
// only the rows asked for, and what the format makes its decoder hold, are ever in memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "progress.h"

namespace zelvan_demo {

// A picture decoded top to bottom, band by band.
class BandSource {
public:
    virtual ~BandSource() = default;
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;
    // Decodes the next `rows` rows (fewer only at the bottom: returns how many) into dst, rows pitch
    // bytes apart (pitch >= width * 4). Throws DemoError with one clear line for damaged, truncated
    // or unsupported data.
    virtual std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) = 0;
};

// Opens a PNG, JPEG or TIFF file, told apart by its first bytes, and reads its header. Throws
// DemoError with a one-line message for a file that cannot be opened, is none of these, has an
// unusable header or rows too wide for the library.
std::unique_ptr<BandSource> openBandSource(const std::string& path);

// Rows of blue-green-red-alpha pixels, tightly packed, top row first: a picture held whole.
struct BgraImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<std::uint8_t[]> pixels;

    std::size_t pitch() const { return std::size_t{width} * 4; }
    std::uint8_t* row(std::uint32_t y) { return pixels.get() + y * pitch(); }
    const std::uint8_t* row(std::uint32_t y) const { return pixels.get() + y * pitch(); }
};

// Reads a whole file through openBandSource into memory; `rowsDone` hears of rows completed. Throws
// DemoError as openBandSource and readRows do, and when the picture does not fit in memory.
BgraImage loadImageFile(const std::string& path, const ProgressFn& rowsDone = {});

// Bytes of memory this process may use at most: the machine's physical memory, lowered by an
// address-space limit if one is set.
std::uint64_t memoryLimitBytes();

// Throws DemoError (naming `source`) unless a width x height image fits in memoryLimit bytes and
// its rows fit the library's 32-bit pitch. Checked before anything large is allocated.
void checkImageFits(std::uint32_t width, std::uint32_t height, const std::string& source,
                    std::uint64_t memoryLimit = memoryLimitBytes());

// Checks the size as above, then allocates the pixels (uninitialised); a failed allocation is
// reported as DemoError too.
BgraImage allocateImage(std::uint32_t width, std::uint32_t height, const std::string& source);

}  // namespace zelvan_demo
