// zelvan-view's linked panes drawn headless: each pane shows its own picture through the one placement,
// picture pixel (x, y) at the same place in every pane, and the background between and beyond them.
#include "linked_panes.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

#include "gl_context.h"
#include "picture_files.h"
#include "program.h"
#include "run_program.h"
#include "scene.h"

using namespace demo_test;

namespace {

// Colours from a hash of the position and `seed`: each picture its own, any offset shows.
Picture noise(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    Picture picture(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ (seed * 83492791u);
            picture.at(x, y) = {std::uint8_t(h), std::uint8_t(h >> 8), std::uint8_t(h >> 16), 255};
        }
    return picture;
}

// Three pictures of different sizes and a fourth that is no picture, in 2 columns of 200 x 150 panes 4 pixels
// apart, zoomed in and turned: each pane's every pixel whose centre falls clear of a texel's edge is its
// picture's pixel there, or the background past its picture's end; the gaps are background.
TEST(LinkedPanes, EveryPaneShowsItsPictureThroughTheOnePlacement) {
    ScratchDir scratch;
    const std::vector<Picture> pictures = {noise(300, 200, 1), noise(200, 260, 2), noise(120, 80, 3)};
    const std::vector<std::string> paths = {scratch.file("p0.png"), scratch.file("p1.png"),
                                            scratch.file("p2.png"), scratch.file("missing.png")};
    for (std::size_t k = 0; k < pictures.size(); ++k) writePng(paths[k], pictures[k]);
    const int width = 2 * 200 + 4, height = 2 * 150 + 4;
    zelvan_support::GlContext context(width, height);
    ASSERT_TRUE(context.isValid()) << context.error();
    const zelvan::Library library;
    zelvan_demo::SheetViews views({}, 64 << 20, 0, 1);
    std::vector<std::string> warnings;
    const auto warn = [&](const std::string& line) { warnings.push_back(line); };
    zelvan_demo::LinkedPanes panes(views, paths, 2, {}, warn);
    ASSERT_EQ(warnings.size(), 1u);  // the missing picture, its pane left empty
    ASSERT_EQ(std::pair(panes.width(), panes.height()), std::pair(300u, 260u));
    const Rgba empty{0x1c, 0x20, 0x26, 255};
    for (const auto& [scale, degrees] : {std::pair{2.0, 90.0}, {3.0, 30.0}}) {
        // Picture point (70, 60) at each pane's centre (100, 75).
        const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
        const double across = (150 - 70) * scale, up = -(130 - 60) * scale;
        zelvan::Placement placement;
        placement.centreX = 100 + across * c - up * s, placement.centreY = 75 + across * s + up * c;
        placement.scaleX = placement.scaleY = scale, placement.rotateZ = degrees;
        panes.place(placement);
        zelvan_demo::beginFrame(width, height, 1, {empty.r, empty.g, empty.b});
        ASSERT_TRUE(panes.waitForStillFrame(width, height, std::chrono::minutes(2))) << panes.failure();
        zelvan_demo::beginFrame(width, height, 1, {empty.r, empty.g, empty.b});
        panes.draw(width, height);
        GLint viewport[4] = {};  // the frame's again
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, width, height}));
        const zelvan_demo::RgbPicture frame = zelvan_demo::readFrame(width, height);
        std::size_t pictureChecked = 0, backgroundChecked = 0;
        for (int row = 0; row < height; ++row)  // from the top
            for (int column = 0; column < width; ++column) {
                const std::uint8_t* rgb = frame.rgb.data() + (std::size_t(row) * width + column) * 3;
                const int pane = row / 154 * 2 + column / 204, i = column % 204, j = 149 - row % 154;
                const double du = i + 0.5 - 100, dv = j + 0.5 - 75;  // from the pane's centre, y up
                const double x = 70 + (du * c + dv * s) / scale, y = 60 - (-du * s + dv * c) / scale;
                const double fx = x - std::floor(x), fy = y - std::floor(y);
                if (i < 200 && j >= 0 && (fx < 0.02 || fx > 0.98 || fy < 0.02 || fy > 0.98)) continue;
                const bool inside = i < 200 && j >= 0 && pane < 3 && x >= 0 && y >= 0 &&
                                    x < pictures[pane].width && y < pictures[pane].height;
                const Rgba want = inside ? pictures[pane].at(std::uint32_t(x), std::uint32_t(y)) : empty;
                ASSERT_EQ((Rgba{rgb[0], rgb[1], rgb[2], 255}), want)
                    << "pane " << pane << " at " << i << ", " << j << ": " << degrees << " degrees";
                ++(inside ? pictureChecked : backgroundChecked);
            }
        EXPECT_TRUE(pictureChecked > 50000 && backgroundChecked > 30000)
            << pictureChecked << backgroundChecked;
    }
    // A first picture that cannot be opened, or more than a window's panes, is one line of error.
    EXPECT_THROW(zelvan_demo::LinkedPanes(views, {paths.back(), paths.front()}, 2, {}, warn),
                 zelvan_demo::DemoError);
    EXPECT_THROW(zelvan_demo::LinkedPanes(views, std::vector<std::string>(65, paths.front()), 8, {}, warn),
                 zelvan_demo::DemoError);
}

}  // namespace
