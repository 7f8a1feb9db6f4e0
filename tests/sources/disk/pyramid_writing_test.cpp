// Writing a pyramid: its progress rises to exactly 1, told once when the pyramid is in place, whether
// written by writePyramid or by open into its cache; two threads writing the same pyramid at once
// both succeed and leave a whole one.
#include <gtest/gtest.h>

#include <thread>
#include <vips/vips8>

#include "run_program.h"
#include "zelvan_sources_bands.hpp"

using demo_test::ScratchDir;

namespace {

constexpr std::uint32_t kWidth = 1500, kHeight = 1100;  // three levels of 512-pixel tiles

std::string writePicture(const ScratchDir& scratch) {
    const std::string path = scratch.file("picture.png");
    vips::VImage::gaussnoise(kWidth, kHeight)
        .bandjoin({vips::VImage::xyz(kWidth, kHeight)[0], vips::VImage::xyz(kWidth, kHeight)[1]})
        .cast(VIPS_FORMAT_UCHAR)
        .pngsave(path.c_str());
    return path;
}

// Every pixel of level 0 of `path`, as Zelvan::sources reads it.
std::vector<unsigned char> levelZero(const std::string& path) {
    zelvan::sources::OpenOptions options;
    options.cacheDirectory.clear();
    zelvan::sources::Opened opened = zelvan::sources::open(path, options);
    std::vector<unsigned char> pixels(std::size_t{kWidth} * kHeight * 4);
    EXPECT_TRUE(opened && opened.source->read(0, 0, 0, kWidth, kHeight, pixels.data(), kWidth * 4))
        << opened.error;
    return pixels;
}

void expectRisesToOne(const std::vector<double>& told) {
    ASSERT_GE(told.size(), 2u);
    for (std::size_t i = 1; i < told.size(); ++i) EXPECT_GE(told[i], told[i - 1]) << "call " << i;
    EXPECT_EQ(told.back(), 1.0);
    EXPECT_LT(told[told.size() - 2], 1.0);  // 1 once, and never above
}

TEST(PyramidWriting, ProgressRisesToExactlyOneOnce) {
    ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
    ScratchDir scratch;
    const std::string picture = writePicture(scratch);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        std::vector<double> told;
        zelvan::sources::OpenOptions options;
        options.progress = [&told](double done) { told.push_back(done); };
        std::string error;
        ASSERT_TRUE(zelvan::sources::writePyramid(picture, scratch.file("written.tif"), options, error))
            << error;
        expectRisesToOne(told);

        told.clear();
        options.cacheDirectory = scratch.file("cache-" + std::to_string(run));
        options.plainPictureLimitBytes = 0;  // through the cache's pyramid
        zelvan::sources::Opened opened = zelvan::sources::open(picture, options);
        ASSERT_TRUE(opened) << opened.error;
        expectRisesToOne(told);
    }
}

TEST(PyramidWriting, TwoThreadsWritingOnePyramidBothSucceed) {
    ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
    ScratchDir scratch;
    const std::string picture = writePicture(scratch), pyramid = scratch.file("pyramid.tif");
    std::string errors[2];
    bool written[2] = {};
    {
        std::thread other(
            [&] { written[1] = zelvan::sources::writePyramid(picture, pyramid, {}, errors[1]); });
        written[0] = zelvan::sources::writePyramid(picture, pyramid, {}, errors[0]);
        other.join();
    }
    EXPECT_TRUE(written[0]) << errors[0];
    EXPECT_TRUE(written[1]) << errors[1];
    zelvan::sources::Opened opened = zelvan::sources::open(pyramid);
    ASSERT_TRUE(opened) << opened.error;
    EXPECT_EQ(opened.source->levelCount(), 3u);  // 1500, 750 and 375 pixels wide
    EXPECT_TRUE(levelZero(pyramid) == levelZero(picture));
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"picture.png", "pyramid.tif"}));
}

}  // namespace
