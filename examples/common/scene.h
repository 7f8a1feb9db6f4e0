#pragma once
// What the demo programs draw and how: the library for the length of a scope, images uploaded
// block by block, placed where a user thinks of them, into a frame one unit per pixel; and the
// pictures shown when no file is given.
#include <cstdint>
#include <string>

#include "image_reading.h"
#include "image_writing.h"
#include "program.h"
#include "progress.h"
#include "zelvan.h"

namespace zelvan_demo {

// The library instance for the length of a scope. It must end while the OpenGL context that holds
// the textures is current, so it is declared after that context.
struct LibrarySession {
    LibrarySession() {
        if (!ZelvanInit()) throw DemoError("the Zelvan library could not be initialised");
    }
    ~LibrarySession() { ZelvanShutdown(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
};

// Creates a library image of the same size and uploads it block by block, telling `blocksDone`
// after each block. Throws DemoError naming `name` when the library refuses the image or a block;
// nothing is left behind then. Needs ZelvanInit and a current OpenGL context.
ZelvanHandle uploadImage(const BgraImage& image, const std::string& name, const ProgressFn& blocksDone = {});

// --- Placement ---
// Where and how an image lies in the output frame, in the terms a user thinks in: its centre,
// its scale, its rotation about that centre and its opacity. The library instead takes the
// bottom-left corner in the rotated frame; libraryTranslation() converts.

struct Vec3 {
    double x, y, z;
};

enum class Axis { X, Y, Z };

// v turned by `degrees` about one axis, counter-clockwise looking down the axis, as glRotate turns.
Vec3 rotated(Vec3 v, double degrees, Axis axis);

struct Placement {
    double centreX = 0, centreY = 0;               // the image's centre, frame pixels from the bottom-left
    double scaleX = 1, scaleY = 1;                 // frame pixels per image pixel
    double rotateX = 0, rotateY = 0, rotateZ = 0;  // degrees, about the centre, as ZelvanRotate takes them
    std::uint8_t alpha = 255;
};

// The largest uniform scale that shows the whole image in the frame, centred.
Placement fitPlacement(std::uint32_t imageWidth, std::uint32_t imageHeight, double frameWidth,
                       double frameHeight);

// The translation that puts the image's centre at the placement's centre once the library has
// applied the rotation: the centre taken back through the inverse rotation, less half the size.
Vec3 libraryTranslation(const Placement& placement, std::uint32_t imageWidth, std::uint32_t imageHeight);

// Hands scale, rotation, translation and opacity to the library.
void applyPlacement(ZelvanHandle image, const Placement& placement, std::uint32_t imageWidth,
                    std::uint32_t imageHeight);

// How far from the plane z = 0 any part of the placed image can reach, for the projection's
// near and far planes: rotations about X or Y tilt the image out of the plane.
double depthReach(const Placement& placement, std::uint32_t imageWidth, std::uint32_t imageHeight);

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

// --- The built-in pictures (default_scene.cpp) ---

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
