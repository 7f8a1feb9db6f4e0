// zelvan-render --sheet: each cell of the contact sheet compared with its picture box-filtered to the
// cell's scale, a folder's pictures in name order, and what the program does with what it cannot draw.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "picture_files.h"
#include "run_program.h"

using namespace demo_test;

namespace {

constexpr Rgba kBackground{0x1c, 0x20, 0x26, 255};  // zelvan-render's own

double linear(std::uint8_t v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
std::uint8_t encoded(double l) {
    const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    return std::uint8_t(std::lround(std::clamp(c, 0.0, 1.0) * 255));
}

// Smooth in red across and green down, its own blue: a cell showing another picture, or the picture
// turned or stretched, differs by far more than the tolerance.
Picture ramp(std::uint32_t width, std::uint32_t height, std::uint8_t blue) {
    Picture picture(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            picture.at(x, y) = {std::uint8_t(x * 255 / width), std::uint8_t(y * 255 / height), blue, 255};
    return picture;
}

// Each `factor` x `factor` block averaged in linear light.
Picture boxFiltered(const Picture& picture, std::uint32_t factor) {
    Picture out(picture.width / factor, picture.height / factor);
    for (std::uint32_t y = 0; y < out.height; ++y)
        for (std::uint32_t x = 0; x < out.width; ++x) {
            double sum[3] = {0, 0, 0};
            for (std::uint32_t v = 0; v < factor; ++v)
                for (std::uint32_t u = 0; u < factor; ++u) {
                    const Rgba p = picture.at(x * factor + u, y * factor + v);
                    sum[0] += linear(p.r), sum[1] += linear(p.g), sum[2] += linear(p.b);
                }
            const double n = double(factor) * factor;
            out.at(x, y) = {encoded(sum[0] / n), encoded(sum[1] / n), encoded(sum[2] / n), 255};
        }
    return out;
}

// The sheet's pixels at (left, top) onwards against `expected`; the picture's outermost pixels, which the
// passes a fraction of a pixel apart blend with the background, left out.
void expectCell(const Picture& sheet, std::uint32_t left, std::uint32_t top, const Picture& expected,
                const char* name) {
    int worst = 0;
    for (std::uint32_t y = 1; y + 1 < expected.height; ++y)
        for (std::uint32_t x = 1; x + 1 < expected.width; ++x)
            worst = std::max(worst, colourDistance(sheet.at(left + x, top + y), expected.at(x, y)));
    EXPECT_LE(worst, 3) << name;
}

class RenderSheet : public ::testing::Test {
protected:
    ProgramRun sheet(std::vector<std::string> args) {
        args.insert(args.begin(), {ZELVAN_RENDER_PATH, "--sheet"});
        args.insert(args.end(), {"-o", scratch.file("sheet.png")});
        return runProgram(args, scratch.path());
    }
    std::string folder(const std::string& name) {
        mkdir(scratch.file(name).c_str(), 0755);
        return scratch.file(name);
    }
    ScratchDir scratch;
};

TEST_F(RenderSheet, CellsShowAFoldersPicturesInNameOrderEachFittedAndCentred) {
    const std::string pictures = folder("pictures");
    const Picture wide = ramp(800, 400, 40), tall = ramp(400, 800, 120), square = ramp(600, 600, 200);
    writePng(pictures + "/b-wide.png", wide);
    writePng(pictures + "/a-tall.png", tall);
    writePng(pictures + "/c-square.png", square, PngKind::Rgb);
    std::ofstream(pictures + "/notes.txt") << "no picture";
    // 2 columns, 2 rows of 200 x 200 cells: a-tall, b-wide / c-square, nothing.
    const ProgramRun run = sheet({"2", pictures, "--size", "400x400"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("warning: " + pictures + "/notes.txt: "), std::string::npos) << run.err;
    const Picture out = readPng(scratch.file("sheet.png"));
    ASSERT_EQ(out.pixels.size(), 400u * 400u);
    expectCell(out, 50, 0, boxFiltered(tall, 4), "a-tall, 100 x 200 in the first cell");
    expectCell(out, 200, 50, boxFiltered(wide, 4), "b-wide, 200 x 100 in the second");
    expectCell(out, 0, 200, boxFiltered(square, 3), "c-square, 200 x 200 in the third");
    for (const auto& [x, y] : {std::pair{20, 100}, {180, 100}, {300, 20}, {300, 180}, {300, 300}})
        EXPECT_EQ(out.at(x, y), kBackground) << "beside the pictures, at " << x << ", " << y;
}

TEST_F(RenderSheet, APictureThatCannotBeReadLeavesItsCellEmptyWithAWarning) {
    std::ofstream(scratch.file("broken.png")) << "no picture";
    writePng(scratch.file("good.png"), Picture(64, 64, {250, 10, 10, 255}));
    const ProgramRun run =
        sheet({"2", scratch.file("broken.png"), scratch.file("good.png"), "--size", "128x64"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning: " + scratch.file("broken.png") + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("its cell is left empty"), std::string::npos) << run.err;
    const Picture out = readPng(scratch.file("sheet.png"));
    ASSERT_EQ(out.pixels.size(), 128u * 64u);
    EXPECT_EQ(out.at(32, 32), kBackground);
    EXPECT_EQ(out.at(96, 32), (Rgba{250, 10, 10, 255}));
}

TEST_F(RenderSheet, NothingToDrawFailsWithOneClearLineAndNoOutput) {
    std::ofstream(scratch.file("broken.png")) << "no picture";
    const std::string empty = folder("empty");
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"0", scratch.file("broken.png")}, 2, "--sheet: give 1 or more columns, not 0"},
        {{"3"}, 2, "--sheet: name the pictures, or a folder of them"},
        {{"3", empty}, 1, "--sheet: no pictures to draw"},
        {{"3", scratch.file("broken.png")}, 1, "--sheet: none of the 1 pictures could be drawn"},
    };
    for (const auto& bad : cases) {
        const ProgramRun run = sheet(bad.args);
        EXPECT_EQ(run.exitCode, bad.exitCode) << run.err;
        const std::size_t last = run.err.rfind('\n', run.err.size() - 2);
        const std::string line = run.err.substr(last == std::string::npos ? 0 : last + 1);
        EXPECT_EQ(line.rfind(std::string("zelvan-render: ") + bad.says, 0), 0u) << run.err;
    }
    struct stat status {};
    EXPECT_NE(stat(scratch.file("sheet.png").c_str(), &status), 0);
}

}  // namespace
