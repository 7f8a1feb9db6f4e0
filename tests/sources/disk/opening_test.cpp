// How a name is opened: what isUrl takes for a URL, and openBandsOrTiles, which opens a picture file
// once and reads it top to bottom or as tiles, as its caller chooses for a plain picture of colours.
#include <gtest/gtest.h>

#include <vips/vips8>

#include "run_program.h"
#include "vips_test_images.h"
#include "zelvan_sources_bands.hpp"

namespace {

using zelvan::sources::OpenedBandsOrTiles;

TEST(IsUrl, ASchemeOfTwoCharactersOrMoreThenColonSlashSlash) {
    for (const char* url :
         {"https://h/a.tif", "HTTP://h/a", "file:///a.png", "ftp://h/a", "svn+ssh://h", "a1.b-c://x"})
        EXPECT_TRUE(zelvan::sources::isUrl(url)) << url;
    for (const char* path : {"", "a.png", "C://a.png", "C:\\a.png", "dir/http://a", "1http://a", "+http://a",
                             "http:/a", "my file://a", "://a"})
        EXPECT_FALSE(zelvan::sources::isUrl(path)) << path;
}

TEST(Opening, OnceEitherWayAndOnlyPlainColoursAreOffered) {
    ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
    demo_test::ScratchDir scratch;
    const std::string plain = scratch.file("plain.png"), small = scratch.file("small.png"),
                      pyramid = scratch.file("pyramid.tif"), deep = scratch.file("deep.tif");
    const auto sample = [](int x, int y, int b) {
        return std::uint8_t(b == 0 ? x % 256 : b == 1 ? y % 256 : 77);
    };
    disk_test::makeImage<std::uint8_t>(1100, 600, 3, VIPS_FORMAT_UCHAR, sample).pngsave(plain.c_str());
    disk_test::makeImage<std::uint8_t>(300, 200, 3, VIPS_FORMAT_UCHAR, sample).pngsave(small.c_str());
    disk_test::makeImage<std::uint8_t>(700, 450, 3, VIPS_FORMAT_UCHAR, sample)
        .tiffsave(pyramid.c_str(), vips::VImage::option()->set("tile", true)->set("pyramid", true));
    disk_test::makeImage<std::uint16_t>(64, 48, 5, VIPS_FORMAT_USHORT, [](int x, int y, int b) {
        return std::uint16_t(x * 1000 + y * 10 + b);
    }).tiffsave(deep.c_str());
    zelvan::sources::OpenOptions options;  // past the limit: through the cache, as the demo programs ask
    options.cacheDirectory = scratch.file("cache");
    options.plainPictureLimitBytes = 0;
    int asked = 0;
    const auto open = [&](const std::string& path, bool bands, bool raw = false) {
        options.rawSamples = raw;
        return zelvan::sources::openBandsOrTiles(path, options,
                                                 [&](const zelvan::sources::PictureInfo& info) {
                                                     ++asked;
                                                     EXPECT_EQ(info.levels.size(), 1u);
                                                     return bands;
                                                 });
    };
    for (const bool raw : {false, true}) {
        const OpenedBandsOrTiles streamed = open(plain, true, raw), tiled = open(plain, false, raw);
        EXPECT_TRUE(streamed.bands && !streamed.tiles) << streamed.error;
        ASSERT_TRUE(tiled.tiles && !tiled.bands) << tiled.error;
        EXPECT_GT(tiled.tiles->info().levels.size(), 1u);  // the cached pyramid's
    }
    // Within one tile there is no pyramid to write: read whole.
    const OpenedBandsOrTiles one = open(small, false);
    ASSERT_TRUE(one.tiles) << one.error;
    EXPECT_EQ(one.tiles->info().levels.size(), 1u);
    EXPECT_EQ(asked, 5);

    const OpenedBandsOrTiles levels = open(pyramid, true), samples = open(deep, true, true);
    ASSERT_TRUE(levels.tiles && samples.tiles) << levels.error << samples.error;
    EXPECT_EQ(samples.tiles->sampleLayout().type, zelvan::SampleType::UInt16);
    EXPECT_EQ(asked, 5);                  // neither was offered
    EXPECT_TRUE(open(deep, true).bands);  // shown as colours

    const OpenedBandsOrTiles refused = zelvan::sources::openBandsOrTiles(
        deep, {}, [](const zelvan::sources::PictureInfo&) -> bool { throw std::runtime_error("no choice"); });
    EXPECT_EQ(refused.error, deep + ": no choice");
    EXPECT_FALSE(refused);
}

}  // namespace
