#pragma once
// Where and how an image lies in the output frame, in the terms a user thinks in: its centre,
// its scale, its rotation about that centre and its opacity. The library instead takes the
// bottom-left corner in the rotated frame; libraryTranslation() converts.
#include <cstdint>

#include "zelvan.h"

namespace zelvan_demo {

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

}  // namespace zelvan_demo
