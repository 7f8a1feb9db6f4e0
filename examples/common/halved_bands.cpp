#include "halved_bands.h"

#include <algorithm>

#include "zelvan_pyramid.hpp"

namespace zelvan_demo {

namespace {

// Rows of the full picture read at once: a small buffer, however tall the bands asked for.
constexpr std::uint32_t kFullRows = 32;

}  // namespace

HalvedBands::HalvedBands(std::unique_ptr<BandSource> full)
    : full_(std::move(full)),
      width_(zelvan::Pyramid::levelSide(full_->width(), 1)),
      height_(zelvan::Pyramid::levelSide(full_->height(), 1)),
      rows_(std::size_t{kFullRows} * full_->width() * 4) {}

std::uint32_t HalvedBands::readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) {
    const std::size_t fullPitch = std::size_t{full_->width()} * 4;
    std::uint32_t done = 0;
    while (done < rows) {
        const std::uint32_t wanted = std::min(kFullRows, 2 * (rows - done));
        const std::uint32_t got = full_->readRows(rows_.data(), fullPitch, wanted);
        for (std::uint32_t r = 0; r < got; r += 2, ++done) {
            const std::uint8_t* top = rows_.data() + r * fullPitch;
            zelvan::detail::halveRows(top, r + 1 < got ? top + fullPitch : nullptr, full_->width(),
                                      dst + done * pitch);
        }
        if (got < wanted) break;  // the bottom
    }
    return done;
}

std::unique_ptr<BandSource> halvedBands(std::unique_ptr<BandSource> source, std::size_t times) {
    for (std::size_t k = 0; k < times && (source->width() > 1 || source->height() > 1); ++k)
        source = std::make_unique<HalvedBands>(std::move(source));
    return source;
}

}  // namespace zelvan_demo
