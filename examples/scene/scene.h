#pragma once
// What the demo programs draw and how: a frame of one unit per pixel, the projection's depth for a
// placed picture, and the pictures shown when no file is given. Pictures themselves stream in
// through streamed_picture.h.
#include <cstdint>
#include <memory>

#include "image_reading.h"
#include "image_writing.h"
#include "zelvan.hpp"

namespace zelvan_demo {

// Throws DemoError unless the library instance exists (ZelvanInit succeeded).
void checkStarted(const zelvan::Library& library);

// How far from the plane z = 0 any part of the placed image can reach, for the projection's
// near and far planes: rotations about X or Y tilt the image out of the plane.
double depthReach(const zelvan::Placement& placement, std::uint32_t imageWidth, std::uint32_t imageHeight);

// --- The frame ---
// An orthographic projection one unit per pixel, origin at the bottom-left, cleared to a
// background colour; and its read-back as an RGB picture.

struct Rgb {
    std::uint8_t r, g, b;
};

// Sets viewport and projection for a width x height frame whose depth range is +-depth, and
// clears it. The library draws into the model-view matrix, left as identity.
void beginFrame(int width, int height, double depth, Rgb background);

// Reads the current read buffer (width x height from the bottom-left) as a top-row-first picture.
RgbPicture readFrame(int width, int height);

// --- The built-in pictures (default_scene.cpp), made band by band as they are read ---

// The Mandelbrot set in smooth colour: detail at every scale, so zooming in shows how much more
// the full-size image holds than any frame. Every other block of the library's grid is slightly
// darkened, which shows the blocks (partial ones at the right and bottom edges included); the grid
// comes from the library, so a zelvan::Library must exist. Throws DemoError if it cannot.
std::unique_ptr<BandSource> fractalSource(std::uint32_t width, std::uint32_t height);

// A colour wheel in rings inside a white border, meant to be drawn rotated and half transparent
// over the fractal.
std::unique_ptr<BandSource> overlaySource(std::uint32_t width, std::uint32_t height);

constexpr std::uint32_t kFractalWidth = 6000, kFractalHeight = 4000;
constexpr std::uint32_t kOverlayWidth = 1600, kOverlayHeight = 1100;

}  // namespace zelvan_demo
