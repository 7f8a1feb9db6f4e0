#include "scene.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvan_demo {

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

}  // namespace

ZelvanHandle uploadImage(const BgraImage& image, const std::string& name, const ProgressFn& blocksDone) {
    checkImageFits(image.width, image.height, name);  // also checks the pitch fits in 32 bits
    const ZelvanHandle handle = ZelvanCreate(image.width, image.height);
    if (handle == ZelvanZeroHandle())
        throw DemoError(name + ": the library cannot hold a " + std::to_string(image.width) + " x " +
                        std::to_string(image.height) + " image");
    const std::uint32_t rows = ZelvanGetVBlocks(handle), cols = ZelvanGetHBlocks(handle);
    const std::uint64_t total = std::uint64_t{rows} * cols;
    const auto pitch = static_cast<std::int32_t>(image.pitch());
    for (std::uint32_t row = 0; row < rows; ++row)
        for (std::uint32_t col = 0; col < cols; ++col) {
            std::uint32_t x = 0, y = 0;
            const bool placed = ZelvanGetBlockDem(handle, row, col, &x, &y, nullptr, nullptr);
            if (!placed || !ZelvanSetBlockPtr(handle, row, col, image.row(y) + std::size_t{x} * 4, pitch)) {
                ZelvanDestroy(handle);
                throw DemoError(name + ": the library could not take block (" + std::to_string(row) + ", " +
                                std::to_string(col) + ")");
            }
            if (blocksDone) blocksDone(std::uint64_t{row} * cols + col + 1, total);
        }
    return handle;
}

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

void beginFrame(int width, int height, double depth, Rgb background) {
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -depth, depth);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(background.r / 255.0f, background.g / 255.0f, background.b / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

RgbPicture readFrame(int width, int height) {
    RgbPicture picture;
    picture.width = std::uint32_t(width);
    picture.height = std::uint32_t(height);
    const std::size_t stride = std::size_t(width) * 3;
    std::vector<std::uint8_t> bottomUp(stride * std::size_t(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    // OpenGL counts rows from the bottom; pictures from the top.
    picture.rgb.resize(bottomUp.size());
    for (int y = 0; y < height; ++y)
        std::copy_n(bottomUp.data() + std::size_t(height - 1 - y) * stride, stride,
                    picture.rgb.data() + std::size_t(y) * stride);
    return picture;
}

}  // namespace zelvan_demo
