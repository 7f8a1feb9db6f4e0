#pragma once
// Writes TIFFs of any layout with libtiff, a row or a row of tiles at a time, so that test images
// far larger than memory can be made.
#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace demo_test {

struct TiffLayout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t photometric = PHOTOMETRIC_RGB, samples = 3, bits = 8;
    int extraSample = -1;        // ExtraSamples value for the samples beyond the colours; -1: no tag
    std::uint32_t tileSize = 0;  // square tiles of this side (a multiple of 16), or 0 for strips
    std::uint32_t rowsPerStrip = 8;
    bool bigTiff = true;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t compression = COMPRESSION_NONE;  // JPEG with PHOTOMETRIC_YCBCR takes RGB rows
    std::vector<std::uint16_t> colormap;           // palette only: 2^bits reds, then greens, then blues
};

// Fills `samples` with stored row y: width x samples values, each below 2^bits.
using TiffRowFn = std::function<void(std::uint32_t y, std::uint16_t* samples)>;

// Throws std::runtime_error if libtiff cannot write the file.
void writeTiff(const std::string& path, const TiffLayout& layout, const TiffRowFn& rowAt);

}  // namespace demo_test
