#pragma once
// A BandSource at half the size of another (sides rounded up), each pixel the linear-light average
// of 2 x 2 of its pixels as zelvan::Pyramid makes its next level, so that a Pyramid built from the
// halved rows holds exactly the full picture's pyramid without its finest level. A frame that
// draws only coarser levels then decodes the picture once and uploads a quarter of its texels or
// less.
#include <memory>
#include <vector>

#include "image_reading.h"

namespace zelvan_demo {

class HalvedBands : public BandSource {
public:
    explicit HalvedBands(std::unique_ptr<BandSource> full);
    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override;

private:
    std::unique_ptr<BandSource> full_;
    std::uint32_t width_, height_;
    std::vector<std::uint8_t> rows_;  // a few rows of the full picture at a time
};

// `source` halved `times` times.
std::unique_ptr<BandSource> halvedBands(std::unique_ptr<BandSource> source, std::size_t times);

}  // namespace zelvan_demo
