// The demo programs on an OME-Zarr store written by make_stores.py (t 2, c 3, z 4, 96 x 80, 16-bit,
// pixels 0.25 µm wide): with no --channel its omero colours and windows, the plane --t and --z pick, a
// plane it lacks; and zelvan-view's frame of it, with its scale bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "picture_files.h"
#include "run_program.h"
#include "zarr_stores.h"

using namespace demo_test;

namespace {

constexpr unsigned kWidth = 80, kHeight = 96, kChannels = 3;
const std::string kStores = ZELVAN_ZARR_SCRATCH, kStore = kStores + "/tczyx.zarr";

class ZarrPrograms : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = zarr_test::writeStores(kStores); !why.empty()) GTEST_SKIP() << why;
    }
    ProgramRun render(std::vector<std::string> args) {
        args.insert(args.begin(), {ZELVAN_RENDER_PATH, kStore, "--size", "80x96", "-o", output});
        return runProgram(args, scratch.path());
    }
    // Channel c of pixel (x, y) of a plane make_stores.py wrote out.
    static double sample(const std::vector<unsigned char>& plane, unsigned x, unsigned y, unsigned c) {
        std::uint16_t v = 0;
        std::memcpy(&v, plane.data() + ((y * kWidth + x) * kChannels + c) * 2, 2);
        return v;
    }
    // The omero colour of pixel (x, y) of plane t 1, z 2 (make_stores.py's omero()): channel 0 red over
    // 10 to 200, channel 1 green over 11 to 300, channel 2 not active.
    static Rgba omeroColour(const std::vector<unsigned char>& plane, unsigned x, unsigned y);
    // Every pixel of the frame written against `want`; the count of those more than 1 off.
    std::size_t wrongPixels(const std::function<Rgba(unsigned x, unsigned y)>& want) {
        const Picture out = readPng(output);
        EXPECT_EQ(out.width, kWidth);
        if (out.width != kWidth || out.height != kHeight) return ~std::size_t{0};
        std::size_t wrong = 0;
        for (unsigned y = 0; y < kHeight; ++y)
            for (unsigned x = 0; x < kWidth; ++x)
                if (colourDistance(out.at(x, y), want(x, y)) > 1 && wrong++ == 0)
                    ADD_FAILURE() << "(" << x << ", " << y << ")";
        return wrong;
    }

    ScratchDir scratch;
    const std::string output = scratch.file("out.png");
};

std::uint8_t windowed(double v, double start, double end) {
    return std::uint8_t(std::lround(std::clamp((v - start) / (end - start), 0.0, 1.0) * 255));
}

Rgba ZarrPrograms::omeroColour(const std::vector<unsigned char>& plane, unsigned x, unsigned y) {
    return {windowed(sample(plane, x, y, 0), 10, 200), windowed(sample(plane, x, y, 1), 11, 300), 0, 255};
}

TEST_F(ZarrPrograms, ItsOwnColoursAndThePlaneAskedFor) {
    ProgramRun run = render({"--t", "1", "--z", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<unsigned char> t1z2 = zarr_test::expectedSamples(kStores, "tczyx.zarr", 0);
    ASSERT_EQ(t1z2.size(), kWidth * kHeight * kChannels * 2);
    EXPECT_EQ(wrongPixels([&](unsigned x, unsigned y) { return omeroColour(t1z2, x, y); }), 0u);

    // Another plane, channel 0 in grey over the type's range.
    run = render({"--t", "0", "--z", "3", "--channel", "0:#FFFFFF:0:65535"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<unsigned char> t0z3 = zarr_test::expectedSamples(kStores, "tczyx.zarr-t0z3", 0);
    ASSERT_EQ(t0z3.size(), t1z2.size());
    EXPECT_EQ(wrongPixels([&](unsigned x, unsigned y) {
                  const std::uint8_t grey = windowed(sample(t0z3, x, y, 0), 0, 65535);
                  return Rgba{grey, grey, grey, 255};
              }),
              0u);
}

TEST_F(ZarrPrograms, APlaneItLacksEndsInOneLine) {
    // A picture of one plane has no other either.
    const std::string png = scratch.file("one-plane.png");
    writePng(png, quadrants(8, 8));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--t", "99"}, {"--z", "4"}, {"--t", "1", png}}) {
        SCOPED_TRACE(args.back());
        const ProgramRun run = render(args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find("no plane at time point"), std::string::npos) << run.err;
    }
}

#if defined(ZELVAN_VIEW_PATH)
// In a 640 x 480 window the store is fitted at 5 screen pixels a picture pixel (0.05 µm a screen pixel):
// the scale bar, at most 160 pixels, is 5 µm, 100 pixels long, from (22, 22) up from the bottom-left.
TEST_F(ZarrPrograms, TheViewerShowsItsOwnColoursAScaleBarAndAnotherPlane) {
    const auto view = [this](std::vector<std::string> args) {
        const char* asan =
            std::getenv("ASAN_OPTIONS");  // as view_smoke_test.cpp: no leak check for the viewer
        args.insert(args.begin(),
                    {XVFB_RUN_PATH, "-a", "-s", "-screen 0 800x600x24", ZELVAN_VIEW_PATH, "--size", "640x480",
                     "--screenshot", output, "--frames", "3", kStore, "--t", "1", "--z", "2"});
        const ProgramRun run = runProgram(
            args, scratch.path(), {std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.exitCode == 0 ? readPng(output) : Picture{};
    };
    // Picture pixels' centres, where the magnified level 0 is its samples; clear of the bar and of the
    // channel panel over the right of the window.
    const std::pair<unsigned, unsigned> points[] = {{20, 48}, {30, 10}, {3, 60}};
    const auto at = [](const Picture& shot, unsigned x, unsigned y) {
        return shot.at(120 + x * 5 + 2, y * 5 + 2);
    };
    Picture shot = view({});
    ASSERT_EQ(shot.width, 640u);
    const std::vector<unsigned char> t1z2 = zarr_test::expectedSamples(kStores, "tczyx.zarr", 0);
    ASSERT_FALSE(t1z2.empty());
    for (const auto& [x, y] : points)
        EXPECT_LE(colourDistance(at(shot, x, y), omeroColour(t1z2, x, y)), 2) << x << ", " << y;
    const Rgba white{255, 255, 255, 255};
    EXPECT_EQ(shot.at(24, 480 - 24), white);
    EXPECT_EQ(shot.at(120, 480 - 24), white);
    EXPECT_NE(shot.at(124, 480 - 24), white);  // 100 pixels, not more

    // Another plane asked for while the first is shown, through the mapping set, not the picture's own.
    shot = view({"--channel", "0:#FFFFFF:0:65535", "--next-plane", "0,3"});
    ASSERT_EQ(shot.width, 640u);
    const std::vector<unsigned char> t0z3 = zarr_test::expectedSamples(kStores, "tczyx.zarr-t0z3", 0);
    for (const auto& [x, y] : points) {
        const std::uint8_t grey = windowed(sample(t0z3, x, y, 0), 0, 65535);
        EXPECT_LE(colourDistance(at(shot, x, y), Rgba{grey, grey, grey, 255}), 2) << x << ", " << y;
    }
}
#endif

}  // namespace
