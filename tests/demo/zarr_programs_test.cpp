// The demo programs on an OME-Zarr store written by make_stores.py (t 2, c 3, z 4, 96 x 80, 16-bit,
// pixels 0.25 µm wide): with no --channel its omero colours and windows, the plane --t and --z pick, a
// plane it lacks; and zelvan-view's frame of it, its scale bar and another plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "picture_files.h"
#include "run_program.h"
#include "zarr_stores.h"

using namespace demo_test;

namespace {

using Plane = std::vector<unsigned char>;
constexpr unsigned kWidth = 80, kHeight = 96, kChannels = 3;
const std::string kStores = ZELVAN_ZARR_SCRATCH, kStore = kStores + "/tczyx.zarr";
#if defined(ZELVAN_VIEW_PATH)
const std::vector<std::string> kViewer = {XVFB_RUN_PATH,    "-a",          "-s", "-screen 0 800x600x24",
                                          ZELVAN_VIEW_PATH, "--screenshot"};
#else
const std::vector<std::string> kViewer;  // not built, or no xvfb-run
#endif

// Pixel (x, y) of `plane` through its omero mapping (channel 0 red over 10 to 200, channel 1 green over
// 11 to 300, channel 2 not active) or, `grey`, channel 0 in grey over the type's range.
Rgba shown(const Plane& plane, unsigned x, unsigned y, bool grey) {
    const auto windowed = [&](unsigned c, double start, double end) {
        std::uint16_t v = 0;
        std::memcpy(&v, plane.data() + ((y * kWidth + x) * kChannels + c) * 2, 2);
        return std::uint8_t(std::lround(std::clamp((v - start) / (end - start), 0.0, 1.0) * 255));
    };
    const std::uint8_t v = windowed(0, 0, 65535);
    return grey ? Rgba{v, v, v, 255} : Rgba{windowed(0, 10, 200), windowed(1, 11, 300), 0, 255};
}

// How many of the picture's pixels from column `firstX` to `lastX`, drawn in `shot` at `scale` screen
// pixels each from `left` (looked at in their centres), are more than 2 off what `plane` shows.
int mismatches(const Picture& shot, const Plane& plane, bool grey, unsigned firstX, unsigned lastX,
               unsigned left = 0, unsigned scale = 1) {
    int wrong = shot.height == kHeight * scale ? 0 : -1;
    for (unsigned y = 0; y < kHeight && wrong >= 0; ++y)
        for (unsigned x = firstX; x <= lastX; ++x)
            if (colourDistance(shot.at(left + x * scale + scale / 2, y * scale + scale / 2),
                               shown(plane, x, y, grey)) > 2 &&
                wrong++ == 0)
                ADD_FAILURE() << "(" << x << ", " << y << ")";
    return wrong;
}

class ZarrPrograms : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = zarr_test::writeStores(kStores); !why.empty()) GTEST_SKIP() << why;
        t1z2 = zarr_test::expectedSamples(kStores, "tczyx.zarr", 0);
        t0z3 = zarr_test::expectedSamples(kStores, "tczyx.zarr-t0z3", 0);
        ASSERT_TRUE(t1z2.size() == kWidth * kHeight * kChannels * 2 && t0z3.size() == t1z2.size());
    }
    // zelvan-render's 80 x 96 frame of the store, or zelvan-view's 640 x 480 one (`view`), with `args`.
    ProgramRun run(const std::vector<std::string>& args, bool view = false) {
        std::vector<std::string> command =
            view ? kViewer : std::vector<std::string>{ZELVAN_RENDER_PATH, "-o"};
        // xvfb-run's own directory for the X authority file fails its removal now and then under load
        // (exit 5, the program's run done): the authority file goes in the scratch directory instead.
        if (view) command.insert(command.begin() + 1, {"-f", scratch.file("Xauthority")});
        command.insert(command.end(), {output, kStore, "--size", view ? "640x480" : "80x96"});
        command.insert(command.end(), args.begin(), args.end());
        return runProgram(command, scratch.path());
    }
    Picture frame(const std::vector<std::string>& args, bool view = false) {
        const ProgramRun done = run(args, view);
        EXPECT_EQ(done.exitCode, 0) << done.err;
        return done.exitCode == 0 ? readPng(output) : Picture{};
    }

    ScratchDir scratch;
    const std::string output = scratch.file("out.png");
    Plane t1z2, t0z3;  // the planes make_stores.py wrote out
};

TEST_F(ZarrPrograms, ItsOwnColoursAndThePlaneAskedFor) {
    EXPECT_EQ(mismatches(frame({"--t", "1", "--z", "2"}), t1z2, false, 0, kWidth - 1), 0);
    EXPECT_EQ(mismatches(frame({"--t", "0", "--z", "3", "--channel", "0:#FFFFFF:0:65535"}), t0z3, true, 0,
                         kWidth - 1),
              0);

    // A plane the store lacks, and a picture of one plane, which has no other either.
    const std::string png = scratch.file("one-plane.png");
    writePng(png, quadrants(8, 8));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--t", "99"}, {"--z", "4"}, {"--t", "1", png}}) {
        SCOPED_TRACE(args.back());
        const ProgramRun failed = run(args);
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
        EXPECT_NE(failed.err.find("no plane at time point"), std::string::npos) << failed.err;
    }
}

// In a 640 x 480 window the store is fitted at 5 screen pixels a picture pixel from x = 120, 0.05 µm a
// screen pixel: the scale bar, at most 160 pixels, is 5 µm, 100 pixels long, from (22, 22) up from the
// bottom-left. Picture columns 2 to 35 are clear of it and of the channel panel over the right.
TEST_F(ZarrPrograms, TheViewerShowsItsOwnColoursAScaleBarAndAnotherPlane) {
    if (kViewer.empty()) GTEST_SKIP() << "zelvan-view or xvfb-run missing";
    const Picture shot = frame({"--t", "1", "--z", "2"}, true);
    EXPECT_EQ(mismatches(shot, t1z2, false, 2, 35, 120, 5), 0);
    const Rgba white{255, 255, 255, 255};
    EXPECT_TRUE(shot.width == 640 && shot.at(24, 456) == white && shot.at(120, 456) == white &&
                shot.at(124, 456) != white);
    // Another plane asked for while the first is shown, through the mapping set, not the picture's own.
    const std::vector<std::string> next = {"--t",          "1",  "--z", "2", "--channel", "0:#FFFFFF:0:65535",
                                           "--next-plane", "0,3"};
    EXPECT_EQ(mismatches(frame(next, true), t0z3, true, 2, 35, 120, 5), 0);
}

}  // namespace
