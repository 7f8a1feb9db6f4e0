#include "placement.h"

#include <algorithm>
#include <cmath>

namespace zelvan_demo {

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

}  // namespace

Vec3 rotated(Vec3 v, double degrees, Axis axis) {
    const double c = std::cos(degrees * kRadiansPerDegree), s = std::sin(degrees * kRadiansPerDegree);
    switch (axis) {
        case Axis::X:
            return {v.x, c * v.y - s * v.z, s * v.y + c * v.z};
        case Axis::Y:
            return {c * v.x + s * v.z, v.y, -s * v.x + c * v.z};
        case Axis::Z:
            break;
    }
    return {c * v.x - s * v.y, s * v.x + c * v.y, v.z};
}

Placement fitPlacement(std::uint32_t imageWidth, std::uint32_t imageHeight, double frameWidth,
                       double frameHeight) {
    Placement placement;
    placement.centreX = frameWidth / 2;
    placement.centreY = frameHeight / 2;
    if (imageWidth == 0 || imageHeight == 0) return placement;
    const double scale = std::min(frameWidth / imageWidth, frameHeight / imageHeight);
    placement.scaleX = placement.scaleY = scale;
    return placement;
}

Vec3 libraryTranslation(const Placement& placement, std::uint32_t imageWidth, std::uint32_t imageHeight) {
    // The library multiplies by Rx * Ry * Rz; its inverse undoes X first, then Y, then Z.
    Vec3 centre{placement.centreX, placement.centreY, 0.0};
    centre = rotated(centre, -placement.rotateX, Axis::X);
    centre = rotated(centre, -placement.rotateY, Axis::Y);
    centre = rotated(centre, -placement.rotateZ, Axis::Z);
    return {centre.x - imageWidth * placement.scaleX / 2, centre.y - imageHeight * placement.scaleY / 2,
            centre.z};
}

void applyPlacement(ZelvanHandle image, const Placement& placement, std::uint32_t imageWidth,
                    std::uint32_t imageHeight) {
    const Vec3 corner = libraryTranslation(placement, imageWidth, imageHeight);
    ZelvanScale(image, float(placement.scaleX), float(placement.scaleY), false);
    ZelvanRotate(image, float(placement.rotateX), float(placement.rotateY), float(placement.rotateZ));
    ZelvanTranslate(image, float(corner.x), float(corner.y), float(corner.z));
    ZelvanAlpha(image, placement.alpha);
}

double depthReach(const Placement& placement, std::uint32_t imageWidth, std::uint32_t imageHeight) {
    // The centre stays in the plane; no point of the image is further from it than half the diagonal.
    return std::hypot(imageWidth * placement.scaleX, imageHeight * placement.scaleY) / 2 + 1;
}

}  // namespace zelvan_demo
