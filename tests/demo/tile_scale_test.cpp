// zelvan-render through the tile view on a pyramidal TIFF far larger than its texture budget, made
// here with libvips from a formula: fitted, and at one pixel per pixel in the far corner, every
// pixel checked, with the program's peak memory against the budget.
#include <gtest/gtest.h>

#include <cmath>
#include <vips/vips8>

#include "picture_files.h"
#include "run_program.h"
#include "sanitizers.h"

using namespace demo_test;

namespace {

#ifdef ZT_ADDRESS_SANITIZER
constexpr bool kSanitized = true;  // smaller, and memory unchecked: the sanitizer's own would swamp it
#else
constexpr bool kSanitized = false;
#endif
constexpr int kSide = kSanitized ? 6000 : 20000, kFrameWidth = 1200, kFrameHeight = 800;
constexpr std::size_t kBudgetMiB = 16;

// Red climbs 0 to 255 along every 1024 columns, green along every 1024 rows, steps of 4 pixels;
// blue is a ramp across. The frame draws levels 4 and 5, texels of 16 and 32 pixels, sampled as
// they fall: a shallow sawtooth keeps what that costs within a few levels.
int red(int x) { return (x >> 2) & 255; }
int green(int y) { return (y >> 2) & 255; }
double blue(double x) { return 255.0 * x / (kSide - 1); }

// What a frame pixel covering picture pixels [from, to) of a sawtooth shows: its mean there (a level
// or two of blur aside), or nothing to check (-1) where the blur reaches a jump from 255 to 0.
double sawtoothMean(double from, double to) {
    const double reach = 64;
    if (std::floor((from - reach) / 1024) != std::floor((to + reach) / 1024)) return -1;
    return std::fmod((from + to) / 2, 1024.0) / 4 - 0.4;
}

class TileScale : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(VIPS_INIT("zelvan_tile_scale_test"), 0);
        scratch_ = new ScratchDir;
        const vips::VImage xy = vips::VImage::xyz(kSide, kSide);
        const vips::VImage x = xy.extract_band(0), y = xy.extract_band(1);
        const vips::VImage rgb =
            vips::VImage::bandjoin({(x >> 2) & 255, (y >> 2) & 255, x * (255.0 / (kSide - 1))});
        rgb.cast(VIPS_FORMAT_UCHAR)
            .tiffsave(path().c_str(), vips::VImage::option()
                                          ->set("tile", true)
                                          ->set("tile_width", 512)
                                          ->set("tile_height", 512)
                                          ->set("pyramid", true)
                                          ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE)
                                          ->set("level", 1));
    }
    static void TearDownTestSuite() { delete scratch_; }
    static std::string path() { return scratch_->file("pyramid.tif"); }

    Picture render(std::vector<std::string> args) {
        args.insert(args.begin(), {ZELVAN_RENDER_PATH, path(), "--budget", std::to_string(kBudgetMiB), "-o",
                                   scratch_->file("out.png")});
        const ProgramRun run = runProgram(args, scratch_->path());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        if (!kSanitized) {  // textures within the budget, and beyond them the program, never the picture
            EXPECT_LE(run.peakResidentBytes, (kBudgetMiB + 160) << 20)
                << (run.peakResidentBytes >> 20) << " MiB";
        }
        return run.exitCode == 0 ? readPng(scratch_->file("out.png")) : Picture{};
    }

    static ScratchDir* scratch_;
};

ScratchDir* TileScale::scratch_ = nullptr;

TEST_F(TileScale, FittedFrameShowsTheWholePicture) {
    const Picture out = render({});
    ASSERT_EQ(out.pixels.size(), std::size_t{kFrameWidth} * kFrameHeight);
    const double scale = double(kFrameHeight) / kSide, left = (kFrameWidth - kSide * scale) / 2;
    std::size_t checked = 0;
    for (int fy = 1; fy + 1 < kFrameHeight; ++fy)
        for (int fx = int(left) + 1; fx + 1 < int(left + kSide * scale); ++fx) {
            const double x0 = (fx - left) / scale, x1 = (fx + 1 - left) / scale;
            const double y0 = fy / scale, y1 = (fy + 1) / scale;
            const Rgba p = out.at(fx, fy);
            const double r = sawtoothMean(x0, x1), g = sawtoothMean(y0, y1);
            if (r >= 0) {
                ASSERT_NEAR(p.r, r, 8) << fx << ", " << fy;
            }
            if (g >= 0) {
                ASSERT_NEAR(p.g, g, 8) << fx << ", " << fy;
            }
            ASSERT_NEAR(p.b, blue((x0 + x1) / 2), 3) << fx << ", " << fy;
            checked += r >= 0 && g >= 0;
        }
    EXPECT_GT(checked, std::size_t{kFrameHeight} * kFrameHeight / 3);
}

TEST_F(TileScale, FarCornerAtOnePixelPerPixelIsExact) {
    const double tx = kFrameWidth / 2.0 - kSide / 2.0, ty = kSide / 2.0 - kFrameHeight / 2.0;
    const Picture out =
        render({"--scale", "1", "--translate", std::to_string(tx) + "," + std::to_string(ty)});
    ASSERT_EQ(out.pixels.size(), std::size_t{kFrameWidth} * kFrameHeight);
    const vips::VImage corner =
        vips::VImage::new_from_file(path().c_str())
            .crop(kSide - kFrameWidth, kSide - kFrameHeight, kFrameWidth, kFrameHeight);
    std::size_t bytes = 0;
    const std::unique_ptr<std::uint8_t, decltype(&g_free)> pixels(
        static_cast<std::uint8_t*>(corner.write_to_memory(&bytes)), &g_free);
    ASSERT_EQ(bytes, std::size_t{kFrameWidth} * kFrameHeight * 3);
    for (int fy = 0; fy < kFrameHeight; ++fy)
        for (int fx = 0; fx < kFrameWidth; ++fx) {
            const std::uint8_t* e = pixels.get() + (std::size_t(fy) * kFrameWidth + std::size_t(fx)) * 3;
            ASSERT_EQ(out.at(fx, fy), (Rgba{e[0], e[1], e[2], 255})) << fx << ", " << fy;
            ASSERT_EQ(e[0], red(kSide - kFrameWidth + fx));  // the file holds the formula
            ASSERT_EQ(e[1], green(kSide - kFrameHeight + fy));
        }
}

}  // namespace
