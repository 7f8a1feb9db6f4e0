// zelvan-view under a virtual X server: opened on a generated image, it must show that image.
#include <gtest/gtest.h>

#include <cstdlib>

#include "picture_files.h"
#include "run_program.h"

using namespace demo_test;

namespace {

TEST(ViewSmoke, ShowsTheImageFittedInTheWindow) {
    ScratchDir scratch;
    // Several blocks wide and high, partial ones included: 1300 x 900 in a 640 x 480 window is
    // fitted to 640 x 443, leaving bands of background above and below.
    writePng(scratch.file("in.png"), quadrants(1300, 900));
    // Under AddressSanitizer the leak check is left out for the viewer: glfwTerminate unloads
    // Mesa's GLX driver, and the few blocks it keeps then belong to no module a suppression can
    // name. zelvan_render_test checks the code the two programs share with leak checking on.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string leakCheckOff =
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":detect_leaks=0";
    const ProgramRun run =
        runProgram({XVFB_RUN_PATH, "-a", "-s", "-screen 0 800x600x24", ZELVAN_VIEW_PATH, "--size", "640x480",
                    "--screenshot", scratch.file("shot.png"), "--frames", "3", scratch.file("in.png")},
                   scratch.path(), {leakCheckOff});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Picture shot = readPng(scratch.file("shot.png"));
    ASSERT_EQ(shot.width, 640u);
    ASSERT_EQ(shot.height, 480u);
    const Rgba background{0x1c, 0x20, 0x26, 255};
    EXPECT_EQ(shot.at(320, 5), background);
    EXPECT_EQ(shot.at(320, 474), background);
    EXPECT_EQ(shot.at(160, 130), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(shot.at(480, 130), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(shot.at(160, 350), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(shot.at(480, 350), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(shot.at(1, 300), (Rgba{0, 0, 255, 255}));  // the image reaches the window's sides
}

TEST(ViewSmoke, ABadFileIsReportedInOneLineBeforeAnyWindowOpens) {
    ScratchDir scratch;
    const ProgramRun run = runProgram({ZELVAN_VIEW_PATH, scratch.file("nowhere.png")}, scratch.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "zelvan-view: " + scratch.file("nowhere.png") + ": cannot open (No such file or directory)\n");
}

}  // namespace
