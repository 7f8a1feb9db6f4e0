// Pictures opened for raw samples (OpenOptions::rawSamples): what readSamples gives against what was
// written with libvips, at level 0 exactly and at a halved level within the rounding of a mean.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vips/vips8>

#include "run_program.h"
#include "vips_test_images.h"
#include "zelvan_sources.hpp"

using demo_test::ScratchDir;
using disk_test::makeImage;
using vips::VImage;

namespace {

std::unique_ptr<zelvan::sources::PictureSource> openRaw(const std::string& path, bool raw = true) {
    zelvan::sources::OpenOptions options;
    options.rawSamples = raw;
    zelvan::sources::Opened opened = zelvan::sources::open(path, options);
    EXPECT_TRUE(opened) << opened.error;
    return std::move(opened.source);
}

// All of `level`, interleaved, read in two bands of rows with a pitch wider than a row.
template <typename T>
std::vector<T> readLevel(zelvan::sources::PictureSource& source, std::size_t level) {
    const zelvan::TileSize size = source.levelSize(level);
    const unsigned channels = source.sampleLayout().channels;
    const std::size_t rowBytes = std::size_t{size.width} * channels * sizeof(T), pitch = rowBytes + 8;
    std::vector<T> buffer(pitch * size.height / sizeof(T) + 1), out;
    const std::uint32_t top = size.height / 2;
    zelvan::TileReadControl control;
    EXPECT_TRUE(source.readSamples(level, 0, 0, size.width, top, buffer.data(), pitch, control))
        << source.lastError();
    EXPECT_TRUE(source.readSamples(level, 0, top, size.width, size.height - top,
                                   reinterpret_cast<unsigned char*>(buffer.data()) + top * pitch, pitch,
                                   control))
        << source.lastError();
    for (std::uint32_t y = 0; y < size.height; ++y) {
        const auto* row =
            reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(buffer.data()) + y * pitch);
        out.insert(out.end(), row, row + std::size_t{size.width} * channels);
    }
    return out;
}

// The mean of the samples of level 0 (`width` wide, `height` high) under pixel (x, y) of level 1,
// NaN left out.
template <typename T>
double meanBelow(const std::vector<T>& level0, int width, int height, int channels, int x, int y, int c) {
    double sum = 0;
    int n = 0;
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const int fx = 2 * x + dx, fy = 2 * y + dy;
            if (fx >= width || fy >= height) continue;
            const double v = double(level0[(std::size_t(fy) * width + fx) * channels + c]);
            if (!std::isnan(v)) sum += v, ++n;
        }
    return sum / n;
}

// Counts level 1's samples further than `tolerance` from the mean below them.
template <typename T>
void expectHalved(const std::vector<T>& level0, const std::vector<T>& level1, int width, int height,
                  int channels, double tolerance) {
    const int halfWidth = (width + 1) / 2, halfHeight = (height + 1) / 2;
    ASSERT_EQ(level1.size(), std::size_t(halfWidth) * halfHeight * channels);
    std::size_t wrong = 0;
    for (int y = 0; y < halfHeight; ++y)
        for (int x = 0; x < halfWidth; ++x)
            for (int c = 0; c < channels; ++c) {
                const double want = meanBelow(level0, width, height, channels, x, y, c);
                const double have = double(level1[(std::size_t(y) * halfWidth + x) * channels + c]);
                if (!(std::fabs(have - want) <= tolerance) && wrong++ == 0)
                    ADD_FAILURE() << "level 1 (" << x << ", " << y << ") channel " << c << ": " << have
                                  << " not " << want;
            }
    EXPECT_EQ(wrong, 0u);
}

class RawSamples : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(VIPS_INIT("zelvan-test"), 0); }
    ScratchDir scratch;
};

std::uint16_t channelSample(int x, int y, int channel) {
    return std::uint16_t((x * 97 + y * 31 + channel * 12000 + (x * y) % 251) % 65536);
}

// Five 16-bit channels as the five pages of a TIFF, as OME-TIFF keeps channels: plain, and tiled with
// each page's pyramid in sub-IFDs.
TEST_F(RawSamples, ChannelPagesOfATiffComeBackAsInterleavedChannels) {
    constexpr int kWidth = 700, kHeight = 300, kChannels = 5;
    std::vector<VImage> pages;
    for (int c = 0; c < kChannels; ++c)
        pages.push_back(makeImage<std::uint16_t>(kWidth, kHeight, 1, VIPS_FORMAT_USHORT,
                                                 [c](int x, int y, int) { return channelSample(x, y, c); }));
    VImage stack = VImage::arrayjoin(pages, VImage::option()->set("across", 1)).copy();
    stack.set("page-height", kHeight);
    const std::string plain = scratch.file("channels.ome.tif"),
                      pyramid = scratch.file("channels-pyramid.tif");
    stack.tiffsave(plain.c_str());
    stack.tiffsave(pyramid.c_str(), VImage::option()
                                        ->set("tile", true)
                                        ->set("pyramid", true)
                                        ->set("subifd", true)
                                        ->set("tile_width", 128)
                                        ->set("tile_height", 128));
    for (const std::string& path : {plain, pyramid}) {
        SCOPED_TRACE(path);
        const auto source = openRaw(path);
        ASSERT_TRUE(source);
        const zelvan::SampleLayout layout = source->sampleLayout();
        EXPECT_EQ(layout.type, zelvan::SampleType::UInt16);
        ASSERT_EQ(layout.channels, unsigned(kChannels));
        EXPECT_EQ(source->info().bands, unsigned(kChannels));
        ASSERT_GE(source->levelCount(), 2u);
        const std::vector<std::uint16_t> level0 = readLevel<std::uint16_t>(*source, 0);
        std::size_t wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < kChannels; ++c)
                    wrong += level0[(std::size_t(y) * kWidth + x) * kChannels + c] != channelSample(x, y, c);
        EXPECT_EQ(wrong, 0u);
        expectHalved(level0, readLevel<std::uint16_t>(*source, 1), kWidth, kHeight, kChannels, 0.5);
    }
    // Without asking, the same file shows its first page as colours.
    const auto shown = openRaw(plain, false);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->sampleLayout().type, zelvan::SampleType::Bgra8);
}

TEST_F(RawSamples, FloatFitsKeepsItsValuesAndNaN) {
    constexpr int kWidth = 600, kHeight = 45;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto value = [nan](int x, int y, int) {
        return x == 3 && y == 2 ? nan : float(x) * 0.75f - float(y) * 1.25f + 1e-3f * float(x % 7);
    };
    const std::string path = scratch.file("sky.fits");
    makeImage<float>(kWidth, kHeight, 1, VIPS_FORMAT_FLOAT, value).fitssave(path.c_str());
    const auto source = openRaw(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->sampleLayout().type, zelvan::SampleType::Float32);
    ASSERT_EQ(source->sampleLayout().channels, 1u);
    ASSERT_GE(source->levelCount(), 2u);
    const std::vector<float> level0 = readLevel<float>(*source, 0);
    ASSERT_EQ(level0.size(), std::size_t(kWidth) * kHeight);
    std::size_t wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float have = level0[std::size_t(y) * kWidth + x], want = value(x, y, 0);
            wrong += std::isnan(want) ? !std::isnan(have) : std::memcmp(&have, &want, sizeof have) != 0;
        }
    EXPECT_EQ(wrong, 0u);
    // The NaN's block averages the other three.
    expectHalved(level0, readLevel<float>(*source, 1), kWidth, kHeight, 1, 1e-3);
}

// 8-bit colours keep their path even when raw samples are asked for.
TEST_F(RawSamples, EightBitColoursStayColours) {
    const std::string path = scratch.file("rgb.png");
    makeImage<std::uint8_t>(20, 10, 3, VIPS_FORMAT_UCHAR, [](int x, int y, int b) {
        return std::uint8_t(x + y + b);
    }).pngsave(path.c_str());
    const auto source = openRaw(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->sampleLayout().type, zelvan::SampleType::Bgra8);
}

}  // namespace

// An OME-TIFF's OME-XML names its channels, colours them and sizes its pixels; a broken one is a warning.
TEST_F(RawSamples, OmeXmlNamesAndColoursTheChannels) {
    constexpr int kSide = 64;
    std::vector<VImage> pages;
    for (int c = 0; c < 3; ++c)
        pages.push_back(makeImage<std::uint16_t>(kSide, kSide, 1, VIPS_FORMAT_USHORT,
                                                 [c](int x, int y, int) { return channelSample(x, y, c); }));
    VImage stack = VImage::arrayjoin(pages, VImage::option()->set("across", 1)).copy();
    stack.set("page-height", kSide);
    // Colours as OME writes them: RGBA in a signed 32-bit integer (-16776961 is 0xFF0000FF, red).
    const std::string ome =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><OME "
        "xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
        "<Image ID=\"Image:0\"><Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint16\" SizeC=\"3\" "
        "SizeT=\"1\" SizeZ=\"1\" SizeX=\"64\" SizeY=\"64\" PhysicalSizeX=\"650\" PhysicalSizeXUnit=\"nm\" "
        "PhysicalSizeY=\"0.5\"><Channel ID=\"Channel:0:0\" Name=\"DAPI\" Color=\"65535\"/>"
        "<Channel ID=\"Channel:0:1\" Name=\"GFP\" Color=\"16711935\"/>"
        "<Channel ID=\"Channel:0:2\" Name=\"Cy5\" Color=\"-16776961\"/></Pixels></Image></OME>";
    const std::string good = scratch.file("good.ome.tif"), broken = scratch.file("broken.ome.tif");
    stack.set("image-description", ome.c_str());
    stack.tiffsave(good.c_str());
    stack.set("image-description", ome.substr(0, ome.size() - 20).c_str());
    stack.tiffsave(broken.c_str());

    const auto source = openRaw(good);
    ASSERT_TRUE(source);
    const zelvan::sources::PictureInfo& info = source->info();
    EXPECT_EQ(info.channelNames, (std::vector<std::string>{"DAPI", "GFP", "Cy5"}));
    EXPECT_DOUBLE_EQ(info.pixelWidthMicrons, 0.65);
    EXPECT_DOUBLE_EQ(info.pixelHeightMicrons, 0.5);
    const zelvan::DisplayMapping mapping = source->displayMapping();
    ASSERT_EQ(mapping.channels.size(), 3u);
    const double expected[3][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(mapping.channels[c].channel, c);
        EXPECT_EQ(mapping.channels[c].colour.red, expected[c][0]) << c;
        EXPECT_EQ(mapping.channels[c].colour.green, expected[c][1]) << c;
        EXPECT_EQ(mapping.channels[c].colour.blue, expected[c][2]) << c;
    }

    std::vector<std::string> warnings;
    zelvan::sources::OpenOptions options;
    options.rawSamples = true;
    options.warning = [&](const std::string& line) { warnings.push_back(line); };
    const zelvan::sources::Opened opened = zelvan::sources::open(broken, options);
    ASSERT_TRUE(opened) << opened.error;
    EXPECT_TRUE(opened.source->info().channelNames.empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("OME-XML cannot be read"), std::string::npos) << warnings[0];
}
