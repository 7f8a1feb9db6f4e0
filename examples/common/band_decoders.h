#pragma once
// The decoders behind openBandSource, one per file format. `name` labels the messages.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "band_source.h"

namespace zelvan_demo {

// Throws DemoError unless rows of `width` pixels fit the library's 32-bit pitch; whether the whole
// picture fits memory does not matter when it is read in bands.
void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// PNG row by row; an interlaced PNG is decoded whole, if memory can hold it.
std::unique_ptr<BandSource> openPngBands(FilePtr file, const std::string& name);
// JPEG scanline by scanline: grey, colour or CMYK.
std::unique_ptr<BandSource> openJpegBands(FilePtr file, const std::string& name);
// TIFF through libtiff, by strips or tiles, turned upright by its orientation tag. It decodes a
// window of about `windowBytes` ahead (at least a strip or a row of tiles), sixteen times that
// where each window costs a pass over the file.
constexpr std::uint64_t kTiffWindowBytes = 16u << 20;
std::unique_ptr<BandSource> openTiffBands(const std::string& path,
                                          std::uint64_t windowBytes = kTiffWindowBytes);

}  // namespace zelvan_demo
