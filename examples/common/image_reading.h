#pragma once
// Image files read into memory as the library wants them: PNG (any colour type, bit depth and
// interlacing) and JPEG (grey, colour or CMYK) decoded to rows of blue-green-red-alpha, after a
// check that the image fits in memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "progress.h"

namespace zelvan_demo {

// Rows of blue-green-red-alpha pixels, tightly packed, top row first.
struct BgraImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<std::uint8_t[]> pixels;

    std::size_t pitch() const { return std::size_t{width} * 4; }
    std::uint8_t* row(std::uint32_t y) { return pixels.get() + y * pitch(); }
    const std::uint8_t* row(std::uint32_t y) const { return pixels.get() + y * pitch(); }
};

// Reads a PNG or JPEG file, told apart by its first bytes, into blue-green-red-alpha; `rowsDone`
// hears of rows completed. Throws DemoError with a one-line message for a file that cannot be
// opened, is neither format, is damaged or truncated, or is larger than memory allows.
BgraImage loadImageFile(const std::string& path, const ProgressFn& rowsDone = {});

// The decoders loadImageFile chooses between, reading the whole of `file`. `name` labels the
// messages. JPEG pixels get alpha 255. Throw DemoError as loadImageFile does.
BgraImage readPng(std::FILE* file, const std::string& name, const ProgressFn& rowsDone);
BgraImage readJpeg(std::FILE* file, const std::string& name, const ProgressFn& rowsDone);

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
