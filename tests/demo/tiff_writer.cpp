#include "tiff_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace demo_test {

namespace {

unsigned colourSamples(std::uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_YCBCR:
            return 3;
        case PHOTOMETRIC_SEPARATED:
            return 4;
        default:
            return 1;
    }
}

// Packs sample values into bytes as TIFF stores them: 16 bits in this machine's order (libtiff
// records it), narrower ones first in the high bits.
void packRow(const std::uint16_t* values, std::size_t count, unsigned bits, std::uint8_t* out) {
    if (bits == 16) {
        std::memcpy(out, values, count * 2);
    } else if (bits == 8) {
        for (std::size_t i = 0; i < count; ++i) out[i] = std::uint8_t(values[i]);
    } else {
        std::memset(out, 0, (count * bits + 7) / 8);
        for (std::size_t i = 0; i < count; ++i)
            out[i * bits / 8] = std::uint8_t(out[i * bits / 8] | values[i] << (8 - bits - i * bits % 8));
    }
}

void setTags(TIFF* tiff, const TiffLayout& layout) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, layout.orientation);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
    if (layout.compression == COMPRESSION_JPEG) {
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 95);
        if (layout.photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const unsigned extras =
        layout.samples - std::min<unsigned>(layout.samples, colourSamples(layout.photometric));
    if (layout.extraSample >= 0 && extras > 0) {
        const std::vector<std::uint16_t> types(extras, std::uint16_t(layout.extraSample));
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, std::uint16_t(extras), types.data());
    }
    if (layout.photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t entries = std::size_t{1} << layout.bits;
        const std::uint16_t* map = layout.colormap.data();
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map, map + entries, map + 2 * entries);
    }
    if (layout.tileSize != 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, layout.tileSize);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, layout.tileSize);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
    }
}

}  // namespace

void writeTiff(const std::string& path, const TiffLayout& layout, const TiffRowFn& rowAt) {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), layout.bigTiff ? "w8" : "w"),
                                                TIFFClose);
    if (!tiff) throw std::runtime_error(path + ": libtiff cannot create it");
    setTags(tiff.get(), layout);
    const std::size_t rowValues = std::size_t{layout.width} * layout.samples;
    const std::size_t rowBytes = (rowValues * layout.bits + 7) / 8;
    std::vector<std::uint16_t> values(rowValues);
    bool written = true;
    if (layout.tileSize == 0) {
        std::vector<std::uint8_t> row(rowBytes);
        for (std::uint32_t y = 0; y < layout.height && written; ++y) {
            rowAt(y, values.data());
            packRow(values.data(), rowValues, layout.bits, row.data());
            written = TIFFWriteScanline(tiff.get(), row.data(), y, 0) >= 0;
        }
    } else {
        // A band of whole tile rows, then cut into tiles; the picture's edges are padded with zeros.
        const std::uint32_t side = layout.tileSize;
        const std::size_t tileRowBytes = std::size_t{side} * layout.samples * layout.bits / 8;
        const std::size_t bandPitch = tileRowBytes * ((layout.width + side - 1) / side);
        std::vector<std::uint8_t> band(bandPitch * side), tile(tileRowBytes * side);
        for (std::uint32_t top = 0; top < layout.height && written; top += side) {
            std::fill(band.begin(), band.end(), 0);
            for (std::uint32_t y = top; y < std::min(top + side, layout.height); ++y) {
                rowAt(y, values.data());
                packRow(values.data(), rowValues, layout.bits, band.data() + (y - top) * bandPitch);
            }
            for (std::uint32_t left = 0; left < layout.width && written; left += side) {
                const std::size_t offset = std::size_t{left / side} * tileRowBytes;
                for (std::uint32_t row = 0; row < side; ++row)
                    std::memcpy(tile.data() + row * tileRowBytes, band.data() + row * bandPitch + offset,
                                tileRowBytes);
                const std::uint32_t index = TIFFComputeTile(tiff.get(), left, top, 0, 0);
                written = TIFFWriteEncodedTile(tiff.get(), index, tile.data(), tmsize_t(tile.size())) >= 0;
            }
        }
    }
    if (!written || !TIFFWriteDirectory(tiff.get()))
        throw std::runtime_error(path + ": libtiff failed to write it");
}

}  // namespace demo_test
