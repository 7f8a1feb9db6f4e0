#include "scene.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "program.h"

namespace zelvan_demo {

void checkStarted(const zelvan::Library& library) {
    if (!library) throw DemoError("the Zelvan library could not be initialised");
}

double depthReach(const zelvan::Placement& placement, std::uint32_t imageWidth, std::uint32_t imageHeight) {
    // The centre stays in the plane; no point of the image is further from it than half the diagonal.
    return std::fabs(placement.centreZ) +
           std::hypot(imageWidth * placement.scaleX, imageHeight * placement.scaleY) / 2 + 1;
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
