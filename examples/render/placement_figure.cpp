// zelvan-placement-figure [output.png]: draws the picture that explains where an image goes
// (docs/placement.png): the same 200 x 120 image at the default placement, turned 30 degrees about
// its bottom-left corner, and turned then translated by (300, 100) along the turned axes, over a
// grid of 50 units with the axes marked.
#include <GL/gl.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "headless_context.h"
#include "image_writing.h"
#include "program.h"
#include "scene.h"

using namespace zelvan_demo;

namespace {

constexpr int kWidth = 900, kHeight = 600;
constexpr double kLeft = -150, kBottom = -110;  // the frame's bottom-left corner in units
constexpr std::uint32_t kImageWidth = 200, kImageHeight = 120;

// The image: light with a dark border; its first rows (the top edge) red, its bottom-left corner
// marked by a yellow square, so that both the turn and the pivot show.
std::vector<std::uint8_t> pictureBgra(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::vector<std::uint8_t> bgra(std::size_t{kImageWidth} * kImageHeight * 4);
    for (std::uint32_t y = 0; y < kImageHeight; ++y)
        for (std::uint32_t x = 0; x < kImageWidth; ++x) {
            std::uint8_t* p = &bgra[(std::size_t{y} * kImageWidth + x) * 4];
            const bool border = x < 3 || y < 3 || x >= kImageWidth - 3 || y >= kImageHeight - 3;
            const bool top = y < 16, corner = x < 24 && y >= kImageHeight - 24;
            std::uint8_t red = r, green = g, blue = b;
            if (top) red = 220, green = 50, blue = 50;
            if (corner) red = 250, green = 210, blue = 40;
            if (border) red = green = blue = 30;
            p[0] = blue, p[1] = green, p[2] = red, p[3] = 255;
        }
    return bgra;
}

// The figure shows where the C interface puts an image, so it places the images with the C
// functions (about the bottom-left corner), not by the centre as zelvan::Image::place does.
zelvan::Image uploadImage(const std::vector<std::uint8_t>& bgra) {
    zelvan::Image image(kImageWidth, kImageHeight);
    if (!image.upload(bgra.data(), std::size_t{kImageWidth} * 4, bgra.size()))
        throw DemoError("the figure's image could not be uploaded");
    return image;
}

void line(double x0, double y0, double x1, double y1) {
    glVertex2d(x0, y0);
    glVertex2d(x1, y1);
}

void drawGrid() {
    glDisable(GL_TEXTURE_2D);
    glLineWidth(1);
    glColor3ub(200, 204, 210);
    glBegin(GL_LINES);
    for (double x = kLeft; x <= kLeft + kWidth; x += 50) line(x, kBottom, x, kBottom + kHeight);
    for (double y = kBottom; y <= kBottom + kHeight; y += 50) line(kLeft, y, kLeft + kWidth, y);
    glEnd();
    // The axes, with arrowheads pointing to +x and +y.
    glLineWidth(2);
    glColor3ub(40, 40, 40);
    const double right = kLeft + kWidth - 10, top = kBottom + kHeight - 10;
    glBegin(GL_LINES);
    line(kLeft, 0, right, 0);
    line(0, kBottom, 0, top);
    line(right, 0, right - 14, 7);
    line(right, 0, right - 14, -7);
    line(0, top, -7, top - 14);
    line(0, top, 7, top - 14);
    glEnd();
}

// The translation (300, 100) drawn as two legs along the turned axes: from the origin along the
// turned x axis, then along the turned y axis, ending at the moved image's corner.
void drawTranslationPath(double degrees, double tx, double ty) {
    const double a = degrees * std::acos(-1.0) / 180, c = std::cos(a), s = std::sin(a);
    glDisable(GL_TEXTURE_2D);
    glLineWidth(2);
    glColor3ub(20, 120, 60);
    glBegin(GL_LINE_STRIP);
    glVertex2d(0, 0);
    glVertex2d(tx * c, tx * s);
    glVertex2d(tx * c - ty * s, tx * s + ty * c);
    glEnd();
}

void drawFigure(const std::string& path) {
    OutputFile output(path);
    HeadlessContext context(kWidth, kHeight);
    const zelvan::Library library;
    checkStarted(library);
    beginFrame(kWidth, kHeight, 1, Rgb{247, 248, 250});
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(kLeft, kLeft + kWidth, kBottom, kBottom + kHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    drawGrid();

    // 1: the default placement, corner at the origin.
    const zelvan::Image plain = uploadImage(pictureBgra(150, 180, 230));
    plain.draw();
    // 2: turned 30 degrees about that corner, half transparent.
    const zelvan::Image turned = uploadImage(pictureBgra(170, 220, 170));
    ZelvanRotate(turned.handle(), 0, 0, 30);
    ZelvanAlpha(turned.handle(), 170);
    turned.draw();
    // 3: turned 30 degrees, then translated by (300, 100) in the turned frame.
    const zelvan::Image moved = uploadImage(pictureBgra(230, 190, 150));
    ZelvanRotate(moved.handle(), 0, 0, 30);
    ZelvanTranslate(moved.handle(), 300, 100, 0);
    moved.draw();
    drawTranslationPath(30, 300, 100);

    writePng(output.stream(), readFrame(kWidth, kHeight), path);
    output.commit();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "placement.png";
    return runProgram(
        "zelvan-placement-figure", [] { return ParseResult::Run; }, [&] { drawFigure(path); });
}
