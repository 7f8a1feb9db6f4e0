#pragma once
// The pictures the demos show when given no file, generated in memory.
#include <cstdint>

#include "bgra_image.h"
#include "progress.h"

namespace zelvan_demo {

// The Mandelbrot set in smooth colour: detail at every scale, so zooming in shows how much more
// the full-size image holds than any frame. Every other block of the library's grid is slightly
// darkened, which shows the blocks (partial ones at the right and bottom edges included); the grid
// comes from the library, so ZelvanInit must have been called.
BgraImage makeFractalImage(std::uint32_t width, std::uint32_t height, const ProgressFn& rowsDone = {});

// A colour wheel in rings inside a white border, meant to be drawn rotated and half transparent
// over the fractal.
BgraImage makeOverlayImage(std::uint32_t width, std::uint32_t height);

constexpr std::uint32_t kFractalWidth = 6000, kFractalHeight = 4000;
constexpr std::uint32_t kOverlayWidth = 1600, kOverlayHeight = 1100;

}  // namespace zelvan_demo
