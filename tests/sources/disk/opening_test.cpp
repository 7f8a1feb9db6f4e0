// How a name is opened: what isUrl takes for a URL, and openBandsOrTiles, which opens a picture file
// once and reads it top to bottom or as tiles, as its caller chooses for a plain picture of colours.
#include <gtest/gtest.h>

#include <vips/vips8>

#include "run_program.h"
#include "vips_test_images.h"
#include "zelvan_sources_bands.hpp"

using demo_test::ScratchDir;
using disk_test::makeImage;
using vips::VImage;

namespace {

TEST(IsUrl, ASchemeOfTwoCharactersOrMoreThenColonSlashSlash) {
    for (const char* url : {"https://host/a.tif", "HTTP://host/a.tif", "file:///tmp/a.png", "ftp://host/a",
                            "svn+ssh://host/a", "a1.b-c://x"})
        EXPECT_TRUE(zelvan::sources::isUrl(url)) << url;
    for (const char* path : {"", "a.png", "C://a.png", "C:\\a.png", "dir/http://a", "1http://a", "+http://a",
                             "http:/a", "http:a", "my file://a", "://a", "http//a"})
        EXPECT_FALSE(zelvan::sources::isUrl(path)) << path;
}

class Opening : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(VIPS_INIT("zelvan-test"), 0); }

    // Opens `path`, counting the calls of the choice, which answers `bands`.
    zelvan::sources::OpenedBandsOrTiles open(const std::string& path, bool bands,
                                             const zelvan::sources::OpenOptions& options = {}) {
        asked = 0;
        return zelvan::sources::openBandsOrTiles(path, options,
                                                 [&](const zelvan::sources::PictureInfo& info) {
                                                     ++asked;
                                                     seen = info;
                                                     return bands;
                                                 });
    }

    ScratchDir scratch;
    int asked = 0;
    zelvan::sources::PictureInfo seen;
};

std::uint8_t sample(int x, int y, int b) { return std::uint8_t(b == 0 ? x : b == 1 ? y : 77); }

TEST_F(Opening, APlainPictureOfColoursGoesTheWayTheCallerChooses) {
    const std::string png = scratch.file("plain.png");
    makeImage<std::uint8_t>(1100, 600, 3, VIPS_FORMAT_UCHAR, [](int x, int y, int b) {
        return sample(x % 256, y % 256, b);
    }).pngsave(png.c_str());
    zelvan::sources::OpenOptions cached;
    cached.cacheDirectory = scratch.file("cache");
    cached.plainPictureLimitBytes = 0;
    double told = 0;
    cached.progress = [&told](double done) { told = done; };
    for (const bool raw : {false, true}) {
        cached.rawSamples = raw;
        told = 0;
        const zelvan::sources::OpenedBandsOrTiles streamed = open(png, true, cached);
        ASSERT_TRUE(streamed.bands) << streamed.error;
        EXPECT_FALSE(streamed.tiles);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(seen.width, 1100u);
        EXPECT_EQ(seen.levels.size(), 1u);
        std::vector<std::uint8_t> rows(1100 * 4 * 600);
        ASSERT_EQ(streamed.bands->readRows(rows.data(), 1100 * 4, 600), 600u) << streamed.bands->error();
        const std::uint8_t* pixel = &rows[(150 * 1100 + 250) * 4];  // blue, green, red, alpha
        EXPECT_EQ((std::vector<int>{pixel[2], pixel[1], pixel[0], pixel[3]}),
                  (std::vector<int>{250, 150, 77, 255}));
        EXPECT_EQ(told, 0);  // nothing written

        // Refused: the tiles of the pyramid written into the cache, as open() reads them.
        const zelvan::sources::OpenedBandsOrTiles tiled = open(png, false, cached);
        ASSERT_TRUE(tiled.tiles) << tiled.error;
        EXPECT_FALSE(tiled.bands);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(tiled.tiles->sampleLayout().type, zelvan::SampleType::Bgra8);
        EXPECT_EQ(tiled.tiles->info().levels.size(),
                  zelvan::sources::open(png, cached).source->info().levels.size());
        unsigned char read[4] = {};
        ASSERT_TRUE(tiled.tiles->read(0, 250, 150, 1, 1, read, 4)) << tiled.tiles->lastError();
        EXPECT_EQ((std::vector<int>{read[2], read[1], read[0], read[3]}),
                  (std::vector<int>{250, 150, 77, 255}));
        EXPECT_EQ(told > 0, !raw);  // written the first time only
    }
    // A picture within one tile has no pyramid to write: read whole whatever the limit.
    const std::string small = scratch.file("small.png");
    makeImage<std::uint8_t>(300, 200, 3, VIPS_FORMAT_UCHAR, sample).pngsave(small.c_str());
    const zelvan::sources::OpenedBandsOrTiles one = open(small, false, cached);
    ASSERT_TRUE(one.tiles) << one.error;
    unsigned char read[4] = {};
    ASSERT_TRUE(one.tiles->read(0, 250, 150, 1, 1, read, 4)) << one.tiles->lastError();
    EXPECT_EQ((std::vector<int>{read[2], read[1], read[0]}), (std::vector<int>{250, 150, 77}));
}

TEST_F(Opening, PyramidsRawSamplesAndFailuresAreNeverOfferedAsBands) {
    const std::string pyramid = scratch.file("pyramid.tif"), deep = scratch.file("deep.tif");
    makeImage<std::uint8_t>(700, 450, 3, VIPS_FORMAT_UCHAR, sample)
        .tiffsave(pyramid.c_str(), VImage::option()->set("tile", true)->set("pyramid", true));
    makeImage<std::uint16_t>(64, 48, 5, VIPS_FORMAT_USHORT, [](int x, int y, int b) {
        return std::uint16_t(x * 1000 + y * 10 + b);
    }).tiffsave(deep.c_str());
    zelvan::sources::OpenOptions raw;
    raw.rawSamples = true;
    const zelvan::sources::OpenedBandsOrTiles levels = open(pyramid, true);
    ASSERT_TRUE(levels.tiles) << levels.error;
    EXPECT_GT(levels.tiles->info().levels.size(), 1u);
    const zelvan::sources::OpenedBandsOrTiles samples = open(deep, true, raw);
    ASSERT_TRUE(samples.tiles) << samples.error;
    EXPECT_EQ(samples.tiles->sampleLayout().type, zelvan::SampleType::UInt16);
    EXPECT_EQ(samples.tiles->sampleLayout().channels, 5u);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(levels.bands || samples.bands);

    // Shown as colours without rawSamples: a plain picture, offered.
    EXPECT_TRUE(open(deep, true).bands);
    EXPECT_EQ(asked, 1);

    const zelvan::sources::OpenedBandsOrTiles missing = open(scratch.file("none.png"), true);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error.rfind(scratch.file("none.png") + ": ", 0), 0u) << missing.error;
    const zelvan::sources::OpenedBandsOrTiles refused = zelvan::sources::openBandsOrTiles(
        deep, {}, [](const zelvan::sources::PictureInfo&) -> bool { throw std::runtime_error("no choice"); });
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error, deep + ": no choice");
}

}  // namespace
