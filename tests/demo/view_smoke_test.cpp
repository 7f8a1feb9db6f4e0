// zelvan-view under a virtual X server: opened on a generated image, it must show that image.
#include <gtest/gtest.h>

#include <cstdlib>

#include "picture_files.h"
#include "run_program.h"
#include "tiff_writer.h"

using namespace demo_test;

namespace {

// Shows `picture` in a 640 x 480 window under a virtual X server, loading `rows` of its rows (0: all),
// and returns the window's last frame.
Picture screenshot(const ScratchDir& scratch, const Picture& picture, std::uint32_t rows = 0,
                   const std::vector<std::string>& options = {}, int exitCode = 0) {
    if (picture.width > 0) writePng(scratch.file("in.png"), picture);
    // Under AddressSanitizer the leak check is left out for the viewer: glfwTerminate unloads
    // Mesa's GLX driver, and the few blocks it keeps then belong to no module a suppression can
    // name. zelvan_render_test checks the code the two programs share with leak checking on.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string leakCheckOff =
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":detect_leaks=0";
    // xvfb-run's own directory for the X authority file fails its removal now and then under load (exit 5,
    // the viewer's run done): the authority file goes in the scratch directory instead.
    std::vector<std::string> args = {XVFB_RUN_PATH,
                                     "-f",
                                     scratch.file("Xauthority"),
                                     "-a",
                                     "-s",
                                     "-screen 0 800x600x24",
                                     ZELVAN_VIEW_PATH,
                                     "--size",
                                     "640x480",
                                     "--screenshot",
                                     scratch.file("shot.png"),
                                     "--frames",
                                     "3",
                                     "--loaded-rows",
                                     std::to_string(rows),
                                     picture.width > 0 ? scratch.file("in.png") : scratch.file("in.tif")};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramRun run = runProgram(args, scratch.path(), {leakCheckOff});
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    return run.exitCode == 0 ? readPng(scratch.file("shot.png")) : Picture{};
}

const Rgba kBackground{0x1c, 0x20, 0x26, 255};

class ViewFitted : public ::testing::TestWithParam<std::vector<std::string>> {};

// Streamed into a pyramid, and (over a budget of 1 MiB) cached as a pyramidal TIFF and drawn tile by tile.
INSTANTIATE_TEST_SUITE_P(Ways, ViewFitted,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--budget", "1", "--cache", "CACHE"}));

TEST_P(ViewFitted, ShowsTheImageFittedInTheWindow) {
    ScratchDir scratch;
    std::vector<std::string> options = GetParam();
    for (std::string& option : options)
        if (option == "CACHE") option = scratch.file("cache");
    // Several blocks wide and high, partial ones included: 1300 x 900 in a 640 x 480 window is
    // fitted to 640 x 443, leaving bands of background above and below.
    const Picture shot = screenshot(scratch, quadrants(1300, 900), 0, options);
    ASSERT_EQ(shot.width, 640u);
    ASSERT_EQ(shot.height, 480u);
    const Rgba background = kBackground;
    EXPECT_EQ(shot.at(320, 5), background);
    EXPECT_EQ(shot.at(320, 474), background);
    EXPECT_EQ(shot.at(160, 130), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(shot.at(480, 130), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(shot.at(160, 350), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(shot.at(480, 350), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(shot.at(1, 300), (Rgba{0, 0, 255, 255}));  // the image reaches the window's sides
}

TEST(ViewSmoke, WhileLoadingShowsTheRowsUploadedAndHidesTheRest) {
    ScratchDir scratch;
    // 2600 x 3000, two strips wide, fitted at 0.16 into x 112..528: 1024 rows in (164 window rows)
    // are drawn from level 1, the finest of the levels that fill in under level 3, the level for
    // the scale, which holds no row yet. Below them only the background, never white blocks.
    const Picture shot = screenshot(scratch, quadrants(2600, 3000), 1024);
    ASSERT_EQ(shot.width, 640u);
    for (const std::uint32_t y : {10u, 150u}) {
        EXPECT_EQ(shot.at(216, y), (Rgba{255, 0, 0, 255})) << y;
        EXPECT_EQ(shot.at(424, y), (Rgba{0, 255, 0, 255})) << y;
    }
    for (const std::uint32_t y : {170u, 300u, 470u})
        for (const std::uint32_t x : {120u, 216u, 424u, 520u})
            EXPECT_EQ(shot.at(x, y), kBackground) << x << ", " << y;
}

// Two 16-bit channels (in.tif, which an empty picture makes screenshot() show): the first mapped to
// red, the panel over the right of the window, the second hidden.
TEST(ViewSmoke, ARawPictureShowsItsChannelsAsMapped) {
    ScratchDir scratch;
    TiffLayout layout;
    layout.width = 320, layout.height = 240, layout.photometric = PHOTOMETRIC_MINISBLACK;
    layout.samples = 2, layout.bits = 16, layout.extraSample = EXTRASAMPLE_UNSPECIFIED;
    writeTiff(scratch.file("in.tif"), layout, [](std::uint32_t, std::uint16_t* samples) {
        for (std::uint32_t x = 0; x < 320; ++x) samples[2 * x] = 3000, samples[2 * x + 1] = 60000;
    });
    const Picture shot = screenshot(scratch, Picture{}, 0, {"--channel", "0:#FF0000:1000:5000"});
    ASSERT_EQ(shot.width, 640u);
    EXPECT_EQ(shot.at(100, 240), (Rgba{128, 0, 0, 255}));
    screenshot(scratch, Picture{}, 0, {"--channel", "2:#FF0000:0:1"}, 1);  // a channel it lacks
}

TEST(ViewSmoke, ABadFileIsReportedInOneLineBeforeAnyWindowOpens) {
    ScratchDir scratch;
    const ProgramRun run = runProgram({ZELVAN_VIEW_PATH, scratch.file("nowhere.png")}, scratch.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "zelvan-view: " + scratch.file("nowhere.png") + ": cannot open (No such file or directory)\n");
}

}  // namespace

namespace {

TEST(ViewSmoke, OnePictureOverAnotherAtItsOpacityAndTwoSideBySide) {
    ScratchDir scratch;
    // A 640 x 480 picture fills the window at one pixel per pixel; a 100 x 50 one over it at twice its
    // size, its top-left corner at (100, 60), half opaque.
    const Rgba red{200, 40, 40, 255}, blue{40, 40, 200, 255};
    writePng(scratch.file("over.png"), Picture(100, 50, blue));
    const Picture over = screenshot(scratch, Picture(640, 480, red), 0,
                                    {"--overlay", scratch.file("over.png"), "--overlay-offset", "100,60",
                                     "--overlay-scale", "2", "--overlay-opacity", "0.5"});
    ASSERT_EQ(over.pixels.size(), 640u * 480u);
    EXPECT_LE(colourDistance(over.at(200, 110), {120, 40, 120, 255}), 3);  // half of each
    EXPECT_LE(colourDistance(over.at(102, 62), {120, 40, 120, 255}), 3);
    for (const auto& [x, y] : {std::pair{97, 110}, {303, 110}, {200, 57}, {200, 163}})
        EXPECT_EQ(over.at(std::uint32_t(x), std::uint32_t(y)), red) << x << ", " << y;
    // The opacity slider in the bottom-left corner: its track (rows 456 to 463 from the top, columns 16 to
    // 215) lit up to the knob at half its length.
    EXPECT_EQ(over.at(60, 460), (Rgba{0xc8, 0xcc, 0xd2, 255}));
    EXPECT_EQ(over.at(116, 460), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(over.at(180, 460), (Rgba{0x50, 0x56, 0x60, 255}));
    EXPECT_EQ(over.at(180, 450), red);
    // Two 300 x 200 pictures in a sheet of 2 columns: a board of two cells 310 x 207, fitted across the
    // window.
    writePng(scratch.file("second.png"), Picture(300, 200, blue));
    const Picture sheet =
        screenshot(scratch, Picture(300, 200, red), 0, {scratch.file("second.png"), "--sheet", "2"});
    ASSERT_EQ(sheet.pixels.size(), 640u * 480u);
    EXPECT_EQ(sheet.at(160, 240), red);
    EXPECT_EQ(sheet.at(480, 240), blue);
    EXPECT_EQ(sheet.at(320, 240), kBackground);  // between the cells
    EXPECT_EQ(sheet.at(160, 100), kBackground);  // above them
}

TEST(ViewSmoke, TwoPicturesInLinkedPanesEachFittedByTheirTopLeftCorners) {
    ScratchDir scratch;
    // 2 panes of 318 x 480, 4 pixels apart; the 300 x 300 the two pictures span fitted into each (318 x 318,
    // rows 81 to 398): the 300 x 200 red one over its top two thirds, the 200 x 300 blue one over its left
    // two thirds.
    const Rgba red{200, 40, 40, 255}, blue{40, 40, 200, 255};
    writePng(scratch.file("second.png"), Picture(200, 300, blue));
    const Picture panes =
        screenshot(scratch, Picture(300, 200, red), 0, {scratch.file("second.png"), "--grid", "2"});
    ASSERT_EQ(panes.pixels.size(), 640u * 480u);
    for (const auto& [x, y] : {std::pair{2, 84}, {315, 84}, {160, 200}, {2, 290}, {315, 290}})
        EXPECT_EQ(panes.at(std::uint32_t(x), std::uint32_t(y)), red) << x << ", " << y;
    for (const auto& [x, y] : {std::pair{325, 84}, {530, 84}, {430, 240}, {325, 395}, {530, 395}})
        EXPECT_EQ(panes.at(std::uint32_t(x), std::uint32_t(y)), blue) << x << ", " << y;
    // Above and below the pictures, past the red one's bottom and the blue one's right, between the panes.
    for (const auto& [x, y] : {std::pair{160, 77}, {160, 300}, {430, 77}, {430, 402}, {538, 240}, {320, 240}})
        EXPECT_EQ(panes.at(std::uint32_t(x), std::uint32_t(y)), kBackground) << x << ", " << y;
}

}  // namespace
