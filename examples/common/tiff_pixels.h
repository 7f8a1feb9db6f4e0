#pragma once
// How the samples of one TIFF become blue-green-red-alpha pixels: 1- to 16-bit grey (either
// polarity), palette, RGB, CMYK and JPEG-compressed YCbCr, each with or without alpha.
#include <array>
#include <cstddef>
#include <cstdint>

#include "tiff_file.h"

namespace zelvan_demo {

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
