// zelvan-render draws known pictures: the PNG it writes is compared pixel by pixel.
#include <gtest/gtest.h>

#include "picture_files.h"
#include "run_program.h"

using namespace demo_test;

namespace {

class RenderPixels : public ::testing::Test {
protected:
    // Renders with the arguments (the output path is added) and returns the PNG written.
    Picture render(std::vector<std::string> args) {
        args.insert(args.begin(), ZELVAN_RENDER_PATH);
        args.insert(args.end(), {"-o", scratch.file("out.png")});
        const ProgramRun run = runProgram(args, scratch.path());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return run.exitCode == 0 ? readPng(scratch.file("out.png")) : Picture{};
    }
    std::string input(const Picture& picture, const std::string& name = "in.png") {
        writePng(scratch.file(name), picture);
        return scratch.file(name);
    }

    ScratchDir scratch;
};

// Every pixel different, so that a misplaced block, row or channel shows.
Picture gradient(std::uint32_t width, std::uint32_t height) {
    Picture picture(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            picture.at(x, y) = {std::uint8_t(x), std::uint8_t(y), std::uint8_t((x >> 8) * 16 + (y >> 8) * 64),
                                255};
    return picture;
}

TEST_F(RenderPixels, ImageSeveralBlocksLargeComesOutPixelForPixel) {
    // 2 x 2 blocks, the right and bottom ones partial; fitted at one frame pixel per image pixel.
    const Picture picture = gradient(700, 600);
    const Picture out = render({input(picture), "--size", "700x600"});
    ASSERT_EQ(out.width, 700u);
    ASSERT_EQ(out.height, 600u);
    EXPECT_EQ(out.pixels, picture.pixels);
}

TEST_F(RenderPixels, FitAndScaleEnlargeEachPixelToASquare) {
    const Picture picture = gradient(40, 30);
    for (const auto& sizing : {std::vector<std::string>{"--fit"}, std::vector<std::string>{"--scale", "2"}}) {
        std::vector<std::string> args = {input(picture), "--size", "80x60"};
        args.insert(args.end(), sizing.begin(), sizing.end());
        const Picture out = render(args);
        ASSERT_EQ(out.pixels.size(), 80u * 60u);
        for (std::uint32_t y = 0; y < 60; ++y)
            for (std::uint32_t x = 0; x < 80; ++x)
                ASSERT_EQ(out.at(x, y), picture.at(x / 2, y / 2)) << sizing[0] << " at " << x << ", " << y;
    }
}

TEST_F(RenderPixels, ZoomedOutPictureShowsTheAverageOfItsPixelsNotMoire) {
    // A 1-pixel black and white checkerboard at 1/8 averages, in linear light, to sRGB grey 188.
    Picture checkerboard(512, 512);
    for (std::uint32_t y = 0; y < 512; ++y)
        for (std::uint32_t x = 0; x < 512; ++x)
            if ((x + y) % 2 != 0) checkerboard.at(x, y) = {255, 255, 255, 255};
    const Picture out = render({input(checkerboard), "--size", "64x64"});
    ASSERT_EQ(out.pixels.size(), 64u * 64u);
    for (const Rgba& pixel : out.pixels) ASSERT_LE(colourDistance(pixel, {188, 188, 188, 255}), 1);
}

TEST_F(RenderPixels, SmallerImageIsCentredOnTheBackgroundAndTranslatedRightAndUp) {
    const Picture picture(16, 8, {200, 100, 50, 255});
    const Rgba background{0x10, 0x20, 0x30, 255};
    Picture out = render({input(picture), "--size", "64x48", "--scale", "1", "--background", "#102030"});
    ASSERT_EQ(out.pixels.size(), 64u * 48u);
    EXPECT_EQ(out.at(0, 0), background);
    EXPECT_EQ(out.at(23, 22), background);  // just left of the image (x 24..39, rows 20..27)
    EXPECT_EQ(out.at(24, 20), picture.at(0, 0));
    EXPECT_EQ(out.at(39, 27), picture.at(0, 0));
    EXPECT_EQ(out.at(40, 27), background);

    out = render(
        {input(picture), "--size", "64x48", "--scale", "1", "--background", "102030", "--translate", "10,5"});
    ASSERT_EQ(out.pixels.size(), 64u * 48u);
    EXPECT_EQ(out.at(33, 14), background);
    EXPECT_EQ(out.at(34, 15), picture.at(0, 0));  // 10 right and 5 up: rows count downwards
    EXPECT_EQ(out.at(49, 22), picture.at(0, 0));
    EXPECT_EQ(out.at(50, 22), background);
}

TEST_F(RenderPixels, RotationTurnsTheImageAboutItsCentre) {
    // A 40 x 20 image turned 90 degrees counter-clockwise in a 60 x 60 frame: it stands 20 wide and
    // 40 high about the centre, its top-left (red) quadrant now at the bottom-left.
    const std::string path = input(quadrants(40, 20));
    const Picture out = render({path, "--size", "60x60", "--scale", "1", "--rotate", "0,0,90"});
    ASSERT_EQ(out.pixels.size(), 3600u);
    EXPECT_EQ(out.at(25, 40), (Rgba{255, 0, 0, 255}));         // red: bottom-left
    EXPECT_EQ(out.at(25, 20), (Rgba{0, 255, 0, 255}));         // green: top-left
    EXPECT_EQ(out.at(35, 40), (Rgba{0, 0, 255, 255}));         // blue: bottom-right
    EXPECT_EQ(out.at(35, 20), (Rgba{255, 255, 255, 255}));     // white: top-right
    EXPECT_EQ(out.at(15, 30), (Rgba{0x1c, 0x20, 0x26, 255}));  // the default background beside it
    // A half turn about X shows the image upside down (seen from behind) in the same place.
    const Picture flipped = render({path, "--size", "60x60", "--scale", "1", "--rotate", "180,0,0"});
    EXPECT_EQ(flipped.at(15, 27), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(flipped.at(45, 33), (Rgba{0, 255, 0, 255}));
}

TEST_F(RenderPixels, OpacityAndTheImagesOwnAlphaBlendOverTheBackground) {
    Picture picture(2, 1, {255, 255, 255, 255});
    picture.at(1, 0) = {255, 255, 255, 128};
    const Picture out =
        render({input(picture), "--size", "2x1", "--background", "#000000", "--opacity", "128"});
    ASSERT_EQ(out.pixels.size(), 2u);
    EXPECT_LE(colourDistance(out.at(0, 0), {128, 128, 128, 255}), 1);
    EXPECT_LE(colourDistance(out.at(1, 0), {64, 64, 64, 255}), 1);  // 128/255 of 128/255
}

TEST_F(RenderPixels, LaterImagesAreDrawnOverEarlierOnes) {
    const std::string below = input(Picture(40, 40, {255, 0, 0, 255}), "below.png");
    const std::string above = input(Picture(10, 10, {0, 0, 255, 255}), "above.png");
    const Picture out = render({below, above, "--size", "40x40", "--scale", "1"});
    ASSERT_EQ(out.pixels.size(), 40u * 40u);
    EXPECT_EQ(out.at(20, 20), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(out.at(2, 2), (Rgba{255, 0, 0, 255}));
}

// Every kind of file: the four quadrants must come out in place and in colour.
struct Flavour {
    const char* name;
    void (*write)(const std::string&, const Picture&);
    bool grey;
    bool print = false;  // CMYK
};

class RenderFileFlavours : public RenderPixels, public ::testing::WithParamInterface<Flavour> {};

TEST_P(RenderFileFlavours, QuadrantsKeepTheirPlaceAndColour) {
    const Picture picture = quadrants(64, 48);
    const std::string path = scratch.file(GetParam().name);
    GetParam().write(path, picture);
    const Picture out = render({path, "--size", "64x48"});
    ASSERT_EQ(out.pixels.size(), 64u * 48u);
    // Sampled away from the edges, where JPEG's blocks blur colours.
    for (const auto& [x, y] : {std::pair{12u, 10u}, {52u, 10u}, {12u, 38u}, {52u, 38u}}) {
        Rgba expected = picture.at(x, y);
        if (GetParam().grey) expected.r = expected.b = expected.g;
        const Rgba got = out.at(x, y);
        if (GetParam().print) {  // through a print profile: pure primaries fall out of its gamut
            int lit = 255,
                dark = 0;  // the dimmest channel that should be full, the brightest that should be off
            for (const auto& [want, have] :
                 {std::pair{expected.r, got.r}, {expected.g, got.g}, {expected.b, got.b}})
                (want == 255 ? lit : dark) =
                    want == 255 ? std::min(lit, int(have)) : std::max(dark, int(have));
            EXPECT_GE(lit - dark, 60) << GetParam().name << " at " << x << ", " << y;
        } else {
            EXPECT_LE(colourDistance(got, expected), 6) << GetParam().name << " at " << x << ", " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllDecoders, RenderFileFlavours,
    ::testing::Values(
        Flavour{"rgba.png", [](const std::string& p, const Picture& c) { writePng(p, c); }, false},
        Flavour{"rgb.png", [](const std::string& p, const Picture& c) { writePng(p, c, PngKind::Rgb); },
                false},
        Flavour{"grey.png", [](const std::string& p, const Picture& c) { writePng(p, c, PngKind::Grey); },
                true},
        Flavour{"colour.jpg", [](const std::string& p, const Picture& c) { writeJpeg(p, c); }, false},
        Flavour{"grey.jpg", [](const std::string& p, const Picture& c) { writeJpeg(p, c, JpegKind::Grey); },
                true},
        Flavour{"cmyk.jpg", [](const std::string& p, const Picture& c) { writeJpeg(p, c, JpegKind::Cmyk); },
                false, true}),
    [](const auto& test) {
        std::string name = test.param.name;
        name[name.find('.')] = '_';
        return name;
    });

TEST_F(RenderPixels, BuiltInSceneIsTheFractalFillingTheFrameUnderATurnedOverlay) {
    const Rgba background{0x1c, 0x20, 0x26, 255};
    const Picture out = render({"--size", "300x200"});
    ASSERT_EQ(out.pixels.size(), 300u * 200u);
    EXPECT_NE(out.at(0, 0), background);  // the 3:2 fractal fills the 3:2 frame
    EXPECT_NE(out.at(299, 199), background);

    // With the fractal made invisible only the overlay remains: 132 x 91 about the centre, turned
    // 20 degrees counter-clockwise, so one point inside its unturned outline is now bare and one
    // outside that outline is covered.
    const Picture overlay = render({"--size", "300x200", "--opacity", "0"});
    ASSERT_EQ(overlay.pixels.size(), 300u * 200u);
    EXPECT_EQ(overlay.at(0, 0), background);
    EXPECT_NE(overlay.at(150, 100), background);
    EXPECT_EQ(overlay.at(213, 57), background);
    EXPECT_NE(overlay.at(193, 40), background);
}

}  // namespace
