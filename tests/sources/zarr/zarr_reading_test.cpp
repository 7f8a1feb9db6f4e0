// OME-Zarr stores on disk through zelvan::sources::open, against the samples their writers wrote: every
// compressor, type, byte order and order of the stores, levels 0 and 1, a plane of five axes, the omero
// block as the source's mapping drawn through a tile view, and the faults: a missing chunk, a damaged one,
// what cannot be read and what is too large, refused at opening.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gl_pixels.h"
#include "gl_test_environment.h"
#include "zarr_stores.h"
#include "zelvan_tiles.hpp"

namespace {

using zelvan::sources::open;
using zelvan::sources::Opened;
using zelvan::sources::OpenOptions;

const std::string kStores = ZELVAN_ZARR_SCRATCH;

class ZarrStores : public zelvan_test::GlTest {
protected:
    void SetUp() override {
        zelvan_test::GlTest::SetUp();
        const std::string why = zarr_test::writeStores(kStores);
        if (!why.empty()) GTEST_SKIP() << why;
    }
    static std::string store(const std::string& name) { return kStores + "/" + name; }
};

TEST_F(ZarrStores, ReadEverySampleAsWritten) {
    const struct {
        const char* name;
        const char* format;
        unsigned bits;
        zelvan::SampleType type;
        int levels;
    } stores[] = {
        {"u1_lz4_bit.zarr", "ome-zarr 0.4", 8, zelvan::SampleType::UInt8, 2},
        {"u2_zstd_blosc.zarr", "ome-zarr 0.4", 16, zelvan::SampleType::UInt16, 2},
        {"i2_zstd.zarr", "ome-zarr 0.4", 16, zelvan::SampleType::Int16, 2},
        {"f4_gzip.zarr", "ome-zarr 0.4", 32, zelvan::SampleType::Float32, 2},
        {"f8_none.zarr", "ome-zarr 0.4", 64, zelvan::SampleType::Float32, 2},  // a chunk missing: NaN
        {"v3_u2_zstd.zarr", "ome-zarr 0.5", 16, zelvan::SampleType::UInt16, 2},
        {"v3_transpose.zarr", "ome-zarr 0.5", 32, zelvan::SampleType::Float32, 2},
        {"v3_blosc.zarr", "ome-zarr 0.5", 16, zelvan::SampleType::Int16, 2},
        {"v3_sharded.zarr", "ome-zarr 0.5", 16, zelvan::SampleType::UInt16, 2},  // two empty slots: fill
        {"v3_shard_start.zarr", "ome-zarr 0.5", 8, zelvan::SampleType::UInt8, 1},
        {"b2r.zarr", "ome-zarr 0.4", 16, zelvan::SampleType::UInt16, 1},  // the image in "0"
    };
    for (const auto& s : stores) {
        SCOPED_TRACE(s.name);
        Opened opened = open(store(s.name));
        ASSERT_TRUE(opened) << opened.error;
        const zelvan::sources::PictureInfo& info = opened.source->info();
        EXPECT_EQ(info.format, s.format);
        EXPECT_EQ(info.bitsPerSample, s.bits);
        EXPECT_EQ(opened.source->sampleLayout().type, s.type);
        EXPECT_EQ(opened.source->sampleLayout().channels, info.bands);
        ASSERT_EQ(opened.source->levelCount(), std::size_t(s.levels));
        for (int level = 0; level < s.levels; ++level) {
            const std::vector<unsigned char> expected = zarr_test::expectedSamples(kStores, s.name, level);
            const std::vector<unsigned char> read = zarr_test::readLevel(*opened.source, std::size_t(level));
            ASSERT_FALSE(read.empty()) << opened.source->lastError();
            ASSERT_EQ(read.size(), expected.size());
            EXPECT_EQ(std::memcmp(read.data(), expected.data(), read.size()), 0) << "level " << level;
        }
    }
}

TEST_F(ZarrStores, FiveAxesShowThePlaneAskedFor) {
    OpenOptions options;
    options.timePoint = 1;
    options.depth = 2;
    Opened opened = open(store("tczyx.zarr"), options);
    ASSERT_TRUE(opened) << opened.error;
    const zelvan::sources::PictureInfo& info = opened.source->info();
    EXPECT_EQ(info.timePoints, 2u);
    EXPECT_EQ(info.depths, 4u);
    EXPECT_EQ(info.timePoint, 1u);
    EXPECT_EQ(info.depth, 2u);
    EXPECT_EQ(info.bands, 3u);
    EXPECT_EQ(info.channelNames, (std::vector<std::string>{"ch0", "ch1", "ch2"}));
    EXPECT_DOUBLE_EQ(info.pixelHeightMicrons, 0.5);
    EXPECT_DOUBLE_EQ(info.pixelWidthMicrons, 0.25);  // 250 nm
    for (int level = 0; level < 2; ++level)
        EXPECT_EQ(zarr_test::readLevel(*opened.source, std::size_t(level)),
                  zarr_test::expectedSamples(kStores, "tczyx.zarr", level));

    std::string error;
    std::unique_ptr<zelvan::sources::PictureSource> other = opened.source->openPlane(0, 3, error);
    ASSERT_TRUE(other) << error;
    opened.source.reset();  // the plane shares what it needs
    EXPECT_EQ(zarr_test::readLevel(*other, 0), zarr_test::expectedSamples(kStores, "tczyx.zarr-t0z3", 0));
    EXPECT_FALSE(other->openPlane(2, 0, error));
    EXPECT_NE(error.find("time point 2"), std::string::npos) << error;
    options.depth = 4;
    const Opened outside = open(store("tczyx.zarr"), options);
    EXPECT_FALSE(outside);
    EXPECT_EQ(outside.error.find('\n'), std::string::npos);
}

TEST_F(ZarrStores, FaultsFailInOneLine) {
    Opened corrupt = open(store("corrupt.zarr"));
    ASSERT_TRUE(corrupt) << corrupt.error;
    std::vector<std::uint16_t> tile(50 * 50);
    zelvan::TileReadControl control;
    EXPECT_FALSE(corrupt.source->readSamples(0, 0, 0, 50, 50, tile.data(), 100, control));
    EXPECT_NE(corrupt.source->lastError().find("0/0.0"), std::string::npos) << corrupt.source->lastError();
    EXPECT_TRUE(corrupt.source->readSamples(0, 50, 50, 50, 50, tile.data(), 100, control));
    Opened badCrc = open(store("v3_bad_crc.zarr"));
    ASSERT_TRUE(badCrc) << badCrc.error;
    EXPECT_FALSE(badCrc.source->readSamples(0, 0, 0, 32, 32, tile.data(), 32, control));
    EXPECT_NE(badCrc.source->lastError().find("crc32c"), std::string::npos) << badCrc.source->lastError();
    EXPECT_TRUE(badCrc.source->readSamples(0, 32, 0, 32, 32, tile.data(), 32, control));

    const struct {
        const char* name;
        const char* said;
    } refused[] = {{"complex.zarr", "<c8"},
                   {"lzma.zarr", "lzma"},
                   {"v3_unknown_codec.zarr", "lzma2000"},
                   {"huge.zarr", "2^40"},
                   {"huge_chunk.zarr", "64 MiB"}};
    for (const auto& r : refused) {
        const Opened opened = open(store(r.name));
        EXPECT_FALSE(opened) << r.name;
        EXPECT_NE(opened.error.find(r.said), std::string::npos) << opened.error;
        EXPECT_EQ(opened.error.find('\n'), std::string::npos) << opened.error;
    }
}

// The omero block is the source's mapping, and a tile view shows it: channel 0 red from 10 to 200,
// channel 1 green from 11 to 300, channel 2 (blue) hidden.
TEST_F(ZarrStores, OmeroChannelsAreTheMappingAViewShows) {
    Opened opened = open(store("u2_zstd_blosc.zarr"));
    ASSERT_TRUE(opened) << opened.error;
    const zelvan::DisplayMapping mapping = opened.source->displayMapping();
    ASSERT_EQ(mapping.channels.size(), 3u);
    EXPECT_EQ(mapping.channels[0].colour.red, 255);
    EXPECT_EQ(mapping.channels[0].colour.green, 0);
    EXPECT_EQ(mapping.channels[1].colour.green, 255);
    EXPECT_EQ(mapping.channels[1].min, 11);
    EXPECT_EQ(mapping.channels[1].max, 300);
    EXPECT_FALSE(mapping.channels[2].visible);

    zelvan::TileView view(*opened.source);
    ASSERT_TRUE(view);
    zelvan::Placement placement;  // picture pixel (x, y) on surface pixel (x, y) from the top left
    const zelvan::TileSize size = opened.source->levelSize(0);
    placement.centreX = size.width / 2.0;
    placement.centreY = zelvan_test::kSurfaceHeight - size.height / 2.0;
    view.place(placement);
    const zelvan::Frame frame{0, 0, zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight, 1};
    zelvan_support::setUpOrtho(zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight);
    ASSERT_TRUE(view.waitUntilComplete(frame, std::chrono::seconds(120))) << opened.source->lastError();
    view.draw(frame);
    const std::vector<unsigned char> bytes = zarr_test::expectedSamples(kStores, "u2_zstd_blosc.zarr", 0);
    for (const auto& at : {std::pair<int, int>{3, 0}, {15, 0}, {20, 0}, {130, 77}}) {
        std::uint16_t v[3];
        std::memcpy(v, &bytes[(std::size_t(at.second) * size.width + std::size_t(at.first)) * 6], 6);
        const auto shade = [](double value, double low, double high) {
            return std::round(std::clamp((value - low) / (high - low), 0.0, 1.0) * 255);
        };
        const zelvan_support::Rgba shown =
            zelvan_support::readPixel(at.first, zelvan_test::kSurfaceHeight - 1 - at.second);
        EXPECT_NEAR(shown.r, shade(v[0], 10, 200), 1) << at.first << "," << at.second << " " << v[0];
        EXPECT_NEAR(shown.g, shade(v[1], 11, 300), 1) << v[1];
        EXPECT_EQ(shown.b, 0);
    }
}

}  // namespace
