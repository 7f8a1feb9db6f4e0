#pragma once
// The frame both programs draw into: an orthographic projection one unit per pixel, origin at the
// bottom-left, cleared to a background colour; and its read-back as an RGB picture.
#include <cstdint>

#include "png_writer.h"

namespace zelvan_demo {

struct Rgb {
    std::uint8_t r, g, b;
};

// Sets viewport and projection for a width x height frame whose depth range is +-depth, and
// clears it. The library draws into the model-view matrix, left as identity.
void beginFrame(int width, int height, double depth, Rgb background);

// Reads the current read buffer (width x height from the bottom-left) as a top-row-first picture.
RgbPicture readFrame(int width, int height);

}  // namespace zelvan_demo
