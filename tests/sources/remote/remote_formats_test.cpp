// Each format read from real servers, its pixels against the picture the trees were written from: IIIF 2
// and 3 from static level 0 trees and from iipsrv (level 2), Deep Zoom with overlapping tiles, {z}/{x}/{y}
// and TMS templates, a pyramidal TIFF by range requests; and the disk cache: a second visit fetches
// nothing, no-store is honoured.
#include <gtest/gtest.h>

#include <cstdio>

#include "remote_reading.h"

namespace remote_test {
namespace {

#define NEED_SERVERS()                                                 \
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing; \
    servers().setRules("")

// Reads a rectangle across server tiles (and the picture's right and bottom edges) of each level the
// source has and checks it: exact at level 0 when `lossy` is 0, otherwise within `lossy` on average.
void expectPicture(zelvan::sources::PictureSource& source, int lossy, std::size_t levels = 64) {
    for (std::size_t level = 0; level < std::min(levels, source.levelCount()); ++level) {
        const zelvan::TileSize size = source.levelSize(level);
        // Halved, rounded up (or down, as a TIFF's pages are).
        ASSERT_LE(size.width, (kPictureWidth + (1u << level) - 1) >> level) << level;
        ASSERT_GE(size.width, kPictureWidth >> level) << level;
        ASSERT_LE(size.height, (kPictureHeight + (1u << level) - 1) >> level) << level;
        ASSERT_GE(size.height, kPictureHeight >> level) << level;
        // The view's own 512 grid: the first tile and the last, partial one.
        const std::uint32_t lastX = (size.width - 1) / 512 * 512, lastY = (size.height - 1) / 512 * 512;
        const std::uint32_t rects[2][4] = {{0, 0, std::min(512u, size.width), std::min(512u, size.height)},
                                           {lastX, lastY, size.width - lastX, size.height - lastY}};
        for (const auto& r : rects) {
            const Read read = readRect(source, level, r[0], r[1], r[2], r[3]);
            ASSERT_TRUE(read.ok) << "level " << level << ": " << source.lastError();
            // Coarser levels were averaged by the server, rounding at each halving.
            if (lossy == 0)
                EXPECT_LE(largestDifference(read, level, r[0], r[1], r[2], r[3]), 2 * int(level))
                    << "level " << level << " at " << r[0] << "," << r[1];
            else
                EXPECT_LE(largestDifference(read, level, r[0], r[1], r[2], r[3], true), lossy)
                    << "level " << level << " at " << r[0] << "," << r[1];
        }
    }
}

// The test picture's size and levels, which a template does not say.
zelvan::sources::OpenOptions templateOptions() {
    zelvan::sources::OpenOptions options = testOptions();
    options.templateWidth = kPictureWidth;
    options.templateHeight = kPictureHeight;
    options.templateLevels = 4;
    return options;
}

TEST(RemoteFormats, EachFormatReadsThePicturesPixels) {
    NEED_SERVERS();
    struct Case {
        std::string url, format;
        int lossy;
        std::size_t levels;
    };
    const Case cases[] = {
        {servers().proxied("iiif2/info.json"), "iiif 2", 0, 3},
        {servers().proxied("iiif3"), "iiif 3", 2, 3},  // the base URL; JPEG tiles
        {servers().proxied("deep.dzi"), "dzi", 0, 3},
        {servers().proxied("xyz/{z}/{y}/{x}.jp2"), "xyz", 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        zelvan::sources::OpenOptions options = templateOptions();
        std::string error;
        auto source = openPicture(c.url, options, error);
        ASSERT_TRUE(source) << error;
        EXPECT_EQ(source->info().format, c.format);
        EXPECT_TRUE(source->info().remote);
        EXPECT_GE(source->levelCount(), c.levels);
        expectPicture(*source, c.lossy);
    }
}

TEST(RemoteFormats, TmsCountsRowsFromTheBottom) {
    NEED_SERVERS();
    // The {z}/{y}/{x} tree with each level's rows renamed bottom up.
    const std::string xyz = servers().directory + "/www/xyz", tms = servers().directory + "/www/tms";
    for (unsigned z = 0; z < 4; ++z) {
        const std::uint32_t side = 256u << (3 - z);  // a level-z tile's side in level-0 pixels
        const std::uint32_t rows = (kPictureHeight + side - 1) / side;
        ASSERT_TRUE(runToEnd({"/bin/mkdir", "-p", tms + "/" + std::to_string(z)}));
        for (std::uint32_t y = 0; y < rows; ++y)
            ASSERT_TRUE(runToEnd({"/bin/cp", "-r", xyz + "/" + std::to_string(z) + "/" + std::to_string(y),
                                  tms + "/" + std::to_string(z) + "/" + std::to_string(rows - 1 - y)}));
    }
    zelvan::sources::OpenOptions options = templateOptions();
    std::string error;
    auto source = openPicture(servers().proxied("tms/{z}/{-y}/{x}.jp2"), options, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().format, "tms");
    expectPicture(*source, 0);

    options.templateWidth = 0;
    EXPECT_FALSE(openPicture(servers().proxied("tms/{z}/{-y}/{x}.jp2"), options, error));
    EXPECT_NE(error.find("templateWidth"), std::string::npos) << error;
}

TEST(RemoteFormats, PyramidalTiffByRangeRequests) {
    NEED_SERVERS();
    std::string error;
    auto source = openPicture(servers().proxied("pyramid.tif"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().format, "tiff");
    EXPECT_EQ(source->levelCount(), 4u);
    const std::uint64_t fileBytes = std::uint64_t{kPictureWidth} * kPictureHeight * 3 * 4 / 3;  // roughly
    ASSERT_TRUE(readRect(*source, 0, 0, 0, 512, 512).ok) << source->lastError();
    EXPECT_LT(source->transfers().bytesFetched, fileBytes / 2);  // only the blocks that tile needs
    expectPicture(*source, 0);
    // libtiff's many small reads came as a few blocks of 256 KiB.
    EXPECT_LE(source->transfers().requests, fileBytes / (256 * 1024) + 2);
}

TEST(RemoteFormats, IiifImageServerAtLevelTwo) {
    NEED_SERVERS();
    if (!servers().iipsrv) GTEST_SKIP() << "needs iipsrv (Debian: iipimage-server)";
    std::string error;
    auto source =
        openPicture(servers().direct("iipsrv.fcgi?IIIF=pyramid.tif/info.json"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().format.substr(0, 4), "iiif");
    // A level 2 server draws regions: levels down to one view tile.
    EXPECT_LE(source->levelSize(source->levelCount() - 1).width, 512u);
    // Its TIFF's levels are rounded down (187 x 137 at 1:8), which it stretches to IIIF's rounded-up
    // sizes: from there on the checker's edges move, and only the finer levels are compared.
    expectPicture(*source, 4, 3);

    // A TIFF of one level: the coarser levels are regions it scales down.
    source = openPicture(servers().direct("iipsrv.fcgi?IIIF=flat.tif/info.json"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->levelCount(), 3u);
    expectPicture(*source, 4);
}

TEST(RemoteFormats, TilesRoundedAFewPixelsLargerAreTaken) {
    NEED_SERVERS();
    // A template's tile padded 6 pixels past each side is cut to its place: exact.
    const std::string vips = findProgram("vips"), www = servers().directory + "/www";
    ASSERT_TRUE(
        runToEnd({vips, "embed", www + "/xyz/3/0/0.jp2", www + "/padded.png", "0", "0", "262", "262"}));
    servers().setRules("/xyz/3/0/0.jp2 redirect 0 /padded.png\n");
    zelvan::sources::OpenOptions options = templateOptions();
    std::string error;
    auto source = openPicture(servers().proxied("xyz/{z}/{y}/{x}.jp2"), options, error);
    ASSERT_TRUE(source) << error;
    const Read padded = readRect(*source, 0, 0, 0, 512, 512);
    ASSERT_TRUE(padded.ok) << source->lastError();
    EXPECT_EQ(largestDifference(padded, 0, 0, 0, 512, 512), 0);
    EXPECT_EQ(count(servers().log(), "/xyz/3/0/0.jp2 redirect"), 1u);
    servers().setRules("");

    if (!servers().iipsrv) GTEST_SKIP() << "needs iipsrv (Debian: iipimage-server)";
    // 1126 pixels wide: at 1:4 the last column's region is 102 x 1024, asked at 26 pixels wide, which
    // iipsrv, keeping the region's shape, draws 261 high rather than 256.
    const std::string narrow = servers().directory + "/narrow.v";
    ASSERT_TRUE(
        runToEnd({vips, "crop", servers().directory + "/picture.ppm", narrow, "0", "0", "1126", "1100"}));
    ASSERT_TRUE(runToEnd({vips, "tiffsave", narrow, www + "/narrow.tif", "--tile", "--pyramid",
                          "--tile-width", "256", "--tile-height", "256"}));
    source = openPicture(servers().direct("iipsrv.fcgi?IIIF=narrow.tif/info.json"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    ASSERT_EQ(source->levelSize(2).width, 282u);
    // That column's 26 x 275 pixels: scaled to their place they line up with the picture (within what
    // JPEG and the server's own rounding at the edge leave: a mean of 6, where cut to their place they
    // drift by up to 5 rows, a mean of 12).
    const Read read = readRect(*source, 2, 256, 0, 26, 275);
    ASSERT_TRUE(read.ok) << source->lastError();
    EXPECT_LE(largestDifference(read, 2, 256, 0, 26, 275, true), 8);
}

TEST(RemoteFormats, SecondVisitFetchesNothingAndNoStoreIsNotKept) {
    NEED_SERVERS();
    const std::string cache =
        servers().directory + "/cache-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    servers().setRules("/iiif2/256, nostore\n");  // the tiles of the second column of level 0
    std::uint64_t firstFetched = 0;
    for (int visit = 0; visit < 2; ++visit) {
        std::string error;
        auto source = openPicture(servers().proxied("iiif2/info.json"), testOptions(cache), error);
        ASSERT_TRUE(source) << error;
        const Read read = readRect(*source, 0, 0, 0, 512, 512);
        ASSERT_TRUE(read.ok) << source->lastError();
        EXPECT_EQ(largestDifference(read, 0, 0, 0, 512, 512), 0);
        const zelvan::sources::TransferStats t = source->transfers();
        if (visit == 0) {
            EXPECT_EQ(t.requests, 5u);  // info.json and four tiles
            firstFetched = t.bytesFetched;
        } else {
            // Only the no-store tiles again, the rest from disk.
            EXPECT_EQ(t.requests, 2u);
            EXPECT_LT(t.bytesFetched, firstFetched / 2);
            EXPECT_GT(t.bytesFromCache, 0u);
        }
    }
    servers().setRules("");
    std::string error;
    auto source = openPicture(servers().proxied("iiif2/info.json"), testOptions(cache), error);
    ASSERT_TRUE(source) << error;
    ASSERT_TRUE(readRect(*source, 0, 0, 0, 256, 256).ok);
    EXPECT_EQ(source->transfers().bytesFetched, 0u);
    EXPECT_EQ(source->transfers().requests, 0u);
}

}  // namespace
}  // namespace remote_test
