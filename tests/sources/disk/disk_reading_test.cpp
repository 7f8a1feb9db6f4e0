// Pictures on disk read through Zelvan::sources, checked pixel by pixel against what was written:
// test files made here with libvips (and libtiff for the planar one), read in bands and in tiles.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>
#include <vips/vips8>

#include "picture_files.h"
#include "run_program.h"
#include "tiff_pages.h"
#include "vips_test_images.h"
#include "zelvan_pyramid.hpp"
#include "zelvan_sources_bands.hpp"

using namespace demo_test;
using disk_test::makeImage;
using vips::VImage;
using zelvan::sources::PictureSource;

namespace {

// Blue-green-red-alpha rows, tightly packed.
struct Bgra {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const { return &bytes[(y * width + x) * 4]; }
};

// All of level 0 in bands of 7 rows (to disagree with any strip or tile), with a pitch of its own.
Bgra readBands(const std::string& path, const zelvan::sources::OpenOptions& options = {}) {
    const zelvan::sources::OpenedBands opened = zelvan::sources::openBands(path, options);
    EXPECT_TRUE(opened) << opened.error;
    if (!opened) return {};
    zelvan::sources::BandReader& source = *opened.reader;
    Bgra out{source.info().width, source.info().height, {}};
    const std::size_t rowBytes = out.width * 4, pitch = rowBytes + 12;
    std::vector<std::uint8_t> band(pitch * 7);
    while (const std::uint32_t rows = source.readRows(band.data(), pitch, 7))
        for (std::uint32_t r = 0; r < rows; ++r)
            out.bytes.insert(out.bytes.end(), &band[r * pitch], &band[r * pitch + rowBytes]);
    EXPECT_EQ(source.error(), "");
    EXPECT_EQ(out.bytes.size(), rowBytes * out.height);
    return out;
}

std::unique_ptr<PictureSource> openTiles(const std::string& path) {
    zelvan::sources::Opened opened = zelvan::sources::open(path);
    EXPECT_TRUE(opened) << opened.error;
    return std::move(opened.source);
}

Bgra readTile(PictureSource& tiles, std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
              std::uint32_t height) {
    Bgra out{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 4)};
    EXPECT_TRUE(tiles.read(level, x, y, width, height, out.bytes.data(), width * 4)) << tiles.lastError();
    return out;
}

// Counts the samples of `got` further than `tolerance` from expected(x, y) (red, green, blue, alpha).
void expectPixels(const Bgra& got,
                  const std::function<std::array<int, 4>(std::uint32_t, std::uint32_t)>& expected,
                  int tolerance = 0) {
    std::size_t wrong = 0;
    for (std::uint32_t y = 0; y < got.height; ++y)
        for (std::uint32_t x = 0; x < got.width; ++x) {
            const std::array<int, 4> want = expected(x, y);
            const int have[4] = {got.at(x, y)[2], got.at(x, y)[1], got.at(x, y)[0], got.at(x, y)[3]};
            for (int c = 0; c < 4; ++c)
                if (std::abs(have[c] - want[c]) > tolerance && wrong++ == 0)
                    ADD_FAILURE() << "(" << x << ", " << y << ") channel " << c << ": " << have[c] << " not "
                                  << want[c];
        }
    EXPECT_EQ(wrong, 0u);
}

class DiskReading : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(VIPS_INIT("zelvan-test"), 0); }
    ScratchDir scratch;
};

std::uint8_t gradient(int x, int y, int b) { return std::uint8_t(b == 0 ? x * 6 : b == 1 ? y * 9 : 128); }

std::array<int, 4> gradientShown(std::uint32_t x, std::uint32_t y) {
    return {gradient(int(x), int(y), 0), gradient(int(x), int(y), 1), 128, 255};
}

// The stored image for orientation n: upright pixel (x, y) kept where the tag says it is.
VImage storedFor(int orientation, const VImage& upright) {
    const VImage turned = orientation >= 5 ? upright.rot90() : upright;   // 5..8 store columns as rows
    const int mirror = orientation >= 5 ? orientation - 3 : orientation;  // then as 2, 3, 4 or 1
    return mirror == 2   ? turned.fliphor()
           : mirror == 3 ? turned.rot180()
           : mirror == 4 ? turned.flipver()
                         : turned;
}

TEST_F(DiskReading, JpegOrientationsComeOutUpright) {
    const VImage upright = makeImage<std::uint8_t>(37, 23, 3, VIPS_FORMAT_UCHAR, gradient);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        VImage stored = storedFor(orientation, upright).copy();
        stored.set("orientation", orientation);
        const std::string path = scratch.file("o" + std::to_string(orientation) + ".jpg");
        stored.jpegsave(path.c_str(),
                        VImage::option()->set("Q", 100)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF));
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const Bgra bands = readBands(path);
        ASSERT_EQ(bands.width, 37u);
        ASSERT_EQ(bands.height, 23u);
        expectPixels(bands, gradientShown, 4);
        const auto tiles = openTiles(path);
        ASSERT_TRUE(tiles);
        EXPECT_EQ(tiles->info().orientationApplied, orientation != 1);
        expectPixels(readTile(*tiles, 0, 0, 0, 37, 23), gradientShown, 4);
    }
}

TEST_F(DiskReading, SixteenBitsMapOverTheirFullRangeAndAlphaToo) {
    const auto sample = [](int x, int y, int b) {
        return std::uint16_t(b == 0 ? x * 1500 + y * 11 : 65535 - y * 300);
    };
    const std::string path = scratch.file("grey16.tif");
    makeImage<std::uint16_t>(40, 30, 2, VIPS_FORMAT_USHORT, sample)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_GREY16))
        .tiffsave(path.c_str());
    expectPixels(
        readBands(path),
        [&](std::uint32_t x, std::uint32_t y) {
            const int grey = int(std::lround(sample(int(x), int(y), 0) * 255.0 / 65535));
            return std::array<int, 4>{grey, grey, grey,
                                      int(std::lround(sample(0, int(y), 1) * 255.0 / 65535))};
        },
        1);
}

// Half the samples 10, half 20, and a few wild ones: NaN, infinities, and outliers beyond the
// percentiles, which must neither crash nor stretch the range.
float withOutliers(int x, int y, int) {
    if (x == 3 && y == 3) return std::numeric_limits<float>::quiet_NaN();
    if (x == 4 && y == 3) return std::numeric_limits<float>::infinity();
    if (x == 5 && y == 3) return -std::numeric_limits<float>::infinity();
    if (x == 6 && y == 3) return 1e30f;
    return (x + y) % 2 ? 20.0f : 10.0f;
}

std::array<int, 4> outliersShown(std::uint32_t x, std::uint32_t y) {
    const float v = withOutliers(int(x), int(y), 0);
    const int grey = std::isnan(v) || v < 15 ? 0 : 255;
    return {grey, grey, grey, 255};
}

TEST_F(DiskReading, FloatTiffAndFitsShowTheirPercentileRange) {
    const VImage image = makeImage<float>(50, 40, 1, VIPS_FORMAT_FLOAT, withOutliers);
    for (const char* name : {"float.tif", "float.fits"}) {
        const std::string path = scratch.file(name);
        image.write_to_file(path.c_str());
        SCOPED_TRACE(name);
        expectPixels(readBands(path), outliersShown);
    }
}

zelvan::sources::OpenOptions rangeOptions(const std::string& text) {
    zelvan::sources::OpenOptions options;
    std::string error;
    EXPECT_TRUE(zelvan::sources::parseDisplayRange(text, options.range, error)) << error;
    return options;
}

TEST_F(DiskReading, ARangeSetByHandOverridesTheDefault) {
    const std::string path = scratch.file("ramp.png");
    makeImage<std::uint8_t>(60, 2, 1, VIPS_FORMAT_UCHAR, [](int x, int, int) {
        return std::uint8_t(x * 4);
    }).pngsave(path.c_str());
    expectPixels(
        readBands(path, rangeOptions("40,140")),
        [](std::uint32_t x, std::uint32_t) {
            const int v = std::clamp(int(std::lround((x * 4.0 - 40) * 2.55)), 0, 255);
            return std::array<int, 4>{v, v, v, 255};
        },
        1);
    zelvan::sources::DisplayRange range;
    std::string error;
    for (const char* bad : {"5,5", "1,nan", "x"}) {
        EXPECT_FALSE(zelvan::sources::parseDisplayRange(bad, range, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST_F(DiskReading, PlanarTiffShowsItsPlanesAsColours) {
    const std::string path = scratch.file("planar.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 20), TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 10);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3), TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB), TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    std::uint8_t row[20];
    for (std::uint16_t plane = 0; plane < 3; ++plane)
        for (std::uint32_t y = 0; y < 10; ++y) {
            for (int x = 0; x < 20; ++x) row[x] = gradient(x, int(y), plane);
            TIFFWriteScanline(tiff, row, y, plane);
        }
    TIFFClose(tiff);
    expectPixels(readBands(path), gradientShown);
}

TEST_F(DiskReading, EmbeddedProfileIsApplied) {
    const VImage srgb = makeImage<std::uint8_t>(16, 16, 3, VIPS_FORMAT_UCHAR, [](int x, int y, int b) {
        return std::uint8_t(b == 0 ? 40 + x * 12 : b == 1 ? 200 - y * 10 : 90);
    });
    const std::string path = scratch.file("p3.png");
    srgb.icc_transform("p3", VImage::option()->set("input_profile", "srgb")).pngsave(path.c_str());
    expectPixels(
        readBands(path),
        [&](std::uint32_t x, std::uint32_t y) {
            return std::array<int, 4>{40 + int(x) * 12, 200 - int(y) * 10, 90, 255};
        },
        3);
}

TEST_F(DiskReading, PyramidalTiffsExposeTheirLevelsAndReadThemFromManyThreads) {
    const VImage image = makeImage<std::uint8_t>(700, 450, 3, VIPS_FORMAT_UCHAR, [](int x, int y, int b) {
        return std::uint8_t(b == 0 ? x / 3 : b == 1 ? y / 2 : (x / 64 + y / 64) % 2 * 200);
    });
    for (const bool subifd : {false, true}) {
        const std::string path = scratch.file(subifd ? "subifd.tif" : "pages.tif");
        image.tiffsave(path.c_str(), VImage::option()
                                         ->set("tile", true)
                                         ->set("pyramid", true)
                                         ->set("subifd", subifd)
                                         ->set("tile_width", 64)
                                         ->set("tile_height", 64));
        SCOPED_TRACE(path);
        const auto tiles = openTiles(path);
        ASSERT_TRUE(tiles);
        ASSERT_EQ(tiles->info().levels.size(), 5u);      // 700, 350, 175, 88, 44: the last fits in a tile
        EXPECT_EQ(tiles->info().levels[4].height, 28u);  // 450, 225, 112, 56, 28
        EXPECT_EQ(tiles->info().format, "tiff");
        // Level 1 is the box mean of level 0; four threads read its tiles at once, as one does.
        const Bgra whole = readBands(path);
        const auto boxMean = [&](std::uint32_t x, std::uint32_t y) {
            std::array<int, 4> sum{};
            for (std::uint32_t k = 0; k < 4; ++k)
                for (int c = 0; c < 4; ++c)
                    sum[c] += whole.at(2 * x + k % 2, 2 * y + k / 2)[c == 3 ? 3 : 2 - c];
            return std::array<int, 4>{sum[0] / 4, sum[1] / 4, sum[2] / 4, sum[3] / 4};
        };
        std::vector<Bgra> read(4);
        std::vector<std::thread> threads;
        for (std::uint32_t t = 0; t < 4; ++t)
            threads.emplace_back(
                [&, t] { read[t] = readTile(*tiles, 1, (t % 2) * 175, (t / 2) * 112, 175, 112); });
        for (std::thread& thread : threads) thread.join();
        for (std::uint32_t t = 0; t < 4; ++t)
            expectPixels(
                read[t],
                [&](std::uint32_t x, std::uint32_t y) {
                    return boxMean(x + (t % 2) * 175, y + (t / 2) * 112);
                },
                2);
        unsigned char pixel[4];
        EXPECT_FALSE(tiles->read(1, 350, 0, 1, 1, pixel, 4));  // past the edge: refused, not thrown
    }
}

// Pages shrinking by 4 then 8 (floored), a 3x one between, as a TIFF and as a slide OpenSlide reads:
// the levels between are halvings of the finer, in linear light (lines an encoded average darkens).
TEST_F(DiskReading, LevelsShrinkingByPowersOfTwoGetTheHalvingsBetween) {
    const std::string tiff = scratch.file("slide.tif"), slide = scratch.file("slide.svs");
    const std::string tiled = "[tile,compression=deflate,tile-width=16,tile-height=16]";
    std::vector<std::string> pages;
    for (const auto& [width, height] : {std::pair{1000, 600}, {333, 200}, {250, 150}, {31, 18}}) {
        pages.push_back(scratch.file(std::to_string(width) + ".tif"));
        const VImage xy = (VImage::xyz(width, height).bandjoin_const({0}) % 2 * 255).cast(VIPS_FORMAT_UCHAR);
        xy.write_to_file((pages.back() + tiled).c_str());
    }
    for (const std::string& path : {tiff, slide})
        zelvan::sources::detail::joinTiffPages(pages, path, false, path);
    TIFF* t = TIFFOpen(slide.c_str(), "r+");  // as Aperio's slides say what they are
    TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "Aperio\n"), TIFFRewriteDirectory(t), TIFFClose(t);
    EXPECT_STREQ(vips_foreign_find_load(slide.c_str()), "VipsForeignLoadOpenslideFile");
    for (const std::string& path : {tiff, slide}) {
        SCOPED_TRACE(path);
        const auto tiles = openTiles(path);
        ASSERT_TRUE(tiles);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> size;
        for (const zelvan::TileSize& l : tiles->info().levels) size.emplace_back(l.width, l.height);
        ASSERT_EQ(size, (decltype(size){{1000, 600}, {500, 300}, {250, 150}, {125, 75}, {63, 38}, {31, 18}}));
        for (const std::size_t level : {1, 3, 4}) {
            const auto [width, height] = size[level];
            EXPECT_EQ(std::pair(tiles->levelSize(level).width, tiles->levelSize(level).height), size[level]);
            Bgra finer = readTile(*tiles, level - 1, 0, 0, size[level - 1].first, size[level - 1].second);
            const auto row = [&](std::uint32_t y) { return y < finer.height ? finer.at(0, y) : nullptr; };
            std::vector<std::uint8_t> want(std::size_t{width} * height * 4);
            for (std::uint32_t y = 0; y < height; ++y)
                zelvan::detail::halveRows(row(2 * y), row(2 * y + 1), finer.width, &want[y * width * 4]);
            EXPECT_TRUE(readTile(*tiles, level, 0, 0, width, height).bytes == want) << "level " << level;
        }
    }
}

// Damaged files end in one line naming the file, from the header or from the pixels, and a tile read
// of them fails without throwing.
TEST_F(DiskReading, DamagedFilesEndInOneLine) {
    const VImage image = makeImage<std::uint8_t>(300, 200, 3, VIPS_FORMAT_UCHAR, gradient);
    const std::string tiled = scratch.file("damaged.tif"), cut = scratch.file("cut.png"),
                      text = scratch.file("text.tif");
    image.tiffsave(
        tiled.c_str(),
        VImage::option()->set("tile", true)->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE));
    std::fstream(tiled, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(16)
        .write(std::string(200, '\x5a').data(), 200);
    image.pngsave(cut.c_str());
    truncateFile(cut, 0.5);
    std::ofstream(text) << "II*";
    for (const std::string& path : {tiled, cut, text}) {
        zelvan::sources::OpenedBands opened = zelvan::sources::openBands(path);
        std::string message = opened.error;
        if (opened) {
            std::vector<std::uint8_t> band(300 * 4 * 200);
            EXPECT_EQ(opened.reader->readRows(band.data(), 300 * 4, 200), 0u)
                << path << " read without an error";
            EXPECT_EQ(opened.reader->readRows(band.data(), 300 * 4, 200), 0u);  // and stays failed
            message = opened.reader->error();
        }
        EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    const auto tiles = openTiles(tiled);
    ASSERT_TRUE(tiles);
    std::vector<unsigned char> pixels(128 * 128 * 4);
    EXPECT_FALSE(tiles->read(0, 0, 0, 128, 128, pixels.data(), 128 * 4));
    EXPECT_FALSE(tiles->lastError().empty());
    // Read again, libvips hands back the damaged tile as black without a word: it still fails.
    EXPECT_FALSE(tiles->read(0, 0, 0, 128, 128, pixels.data(), 128 * 4));
    EXPECT_FALSE(tiles->read(0, 64, 64, 32, 32, pixels.data(), 128 * 4));
}

}  // namespace
