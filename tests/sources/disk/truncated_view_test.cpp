// A PNG or JPEG cut short (a copy or a download that stopped), decoded whole, shows the rows above the
// cut through a tile view, tells its warning once and fails no read; one too large for that is refused
// by open.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vips/vips8>

#include "gl_pixels.h"
#include "gl_test_environment.h"
#include "run_program.h"
#include "zelvan_sources.hpp"
#include "zelvan_tiles.hpp"

namespace {

constexpr int kWidth = 384, kHeight = 256;

// Smooth enough for JPEG at full quality, busy enough that every row takes its share of the file.
std::uint8_t sample(int x, int y, int band) {
    const unsigned ripple = (unsigned(x * 7 + y * 3) * 2654435761u) >> 28;  // 0..15
    return std::uint8_t(band == 0 ? x * 255 / kWidth : band == 1 ? y * 255 / kHeight : 96 + ripple * 4);
}

vips::VImage pattern() {
    std::vector<std::uint8_t> data;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int b = 0; b < 3; ++b) data.push_back(sample(x, y, b));
    return vips::VImage(
        vips_image_new_from_memory_copy(data.data(), data.size(), kWidth, kHeight, 3, VIPS_FORMAT_UCHAR));
}

// Writes `image` to `path` as PNG or JPEG, then keeps only the first 60 % of the file.
void writeCut(const vips::VImage& image, const std::string& path, bool jpeg) {
    if (jpeg)
        image.jpegsave(path.c_str(), vips::VImage::option()->set("Q", 100)->set("subsample_mode",
                                                                                VIPS_FOREIGN_SUBSAMPLE_OFF));
    else
        image.pngsave(path.c_str(), vips::VImage::option()->set("compression", 1));
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() * 6 / 10);
}

class TruncatedView : public zelvan_test::GlTest {};

TEST_F(TruncatedView, ShowsTheRowsAboveTheCutAndWarnsOnce) {
    ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
    demo_test::ScratchDir scratch;
    for (const char* name : {"cut.png", "cut.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = scratch.file(name);
        const bool jpeg = std::string(name).find(".jpg") != std::string::npos;
        writeCut(pattern(), path, jpeg);

        std::mutex mutex;
        std::vector<std::string> told;
        zelvan::sources::OpenOptions options;
        options.warning = [&](const std::string& line) {
            const std::lock_guard<std::mutex> lock(mutex);
            told.push_back(line);
        };
        zelvan::sources::Opened opened = zelvan::sources::open(path, options);
        ASSERT_TRUE(opened) << opened.error;
        zelvan::TileViewOptions viewOptions;
        viewOptions.readOnDrawingThread = true;
        zelvan::TileView view(*opened.source, viewOptions);
        ASSERT_TRUE(view);
        zelvan::Placement placement;  // picture pixel (x, y) on surface pixel (x, y) from the top left
        placement.centreX = kWidth / 2.0;
        placement.centreY = zelvan_test::kSurfaceHeight - kHeight / 2.0;
        view.place(placement);
        const zelvan::Frame frame{0, 0, zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight, 1};
        zelvan_support::setUpOrtho(zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight);
        for (int i = 0; i < 100 && !view.stats().complete; ++i) view.draw(frame);
        ASSERT_TRUE(view.stats().complete) << opened.source->lastError();
        EXPECT_EQ(view.stats().readsFailed, 0u) << opened.source->lastError();
        glClear(GL_COLOR_BUFFER_BIT);
        view.draw(frame);

        // The cut is past 60 % of the file: the top third of the rows decoded whole.
        std::vector<std::uint8_t> shown(std::size_t{zelvan_test::kSurfaceWidth} *
                                        zelvan_test::kSurfaceHeight * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                     shown.data());
        std::size_t wrong = 0;
        for (int y = 0; y < kHeight / 3; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const std::uint8_t* got =
                    &shown[(std::size_t(zelvan_test::kSurfaceHeight - 1 - y) * zelvan_test::kSurfaceWidth +
                            x) *
                           4];
                for (int b = 0; b < 3; ++b) wrong += std::abs(got[b] - sample(x, y, b)) > (jpeg ? 6 : 0);
            }
        EXPECT_EQ(wrong, 0u);
        const std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(told.size(), 1u) << ::testing::PrintToString(told);
        EXPECT_EQ(told[0].rfind(path + ": ", 0), 0u) << told[0];

        // Too large to be decoded whole (and wider than one tile, which is always read whole), it goes
        // through a pyramid, which stops at the cut: refused at once, in one line.
        const std::string wide = scratch.file(std::string("wide-") + name);
        writeCut(pattern().replicate(4, 1), wide, jpeg);
        options.plainPictureLimitBytes = 0;
        options.cacheDirectory = scratch.file("cache");
        const zelvan::sources::Opened refused = zelvan::sources::open(wide, options);
        EXPECT_FALSE(refused);
        EXPECT_EQ(refused.error.rfind(wide + ": ", 0), 0u) << refused.error;
        EXPECT_EQ(refused.error.find('\n'), std::string::npos) << refused.error;
    }
}

}  // namespace
