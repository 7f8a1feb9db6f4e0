// The tile view of typed pictures on a real context, frames read back: the mapping drawn pixel for pixel,
// a new mapping made from the raw tiles without a read, a blank or a third colour on the way, an invalid
// one refused, a raw budget too small for that falling back to reading, and the automatic limits taken
// from the raw samples with NaN and infinities left out.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "gl_pixels.h"
#include "gl_test_environment.h"
#include "reference_mapping.h"
#include "typed_tiles.h"
#include "zelvan_tiles.hpp"

namespace {

using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;
using zelvan_test::TypedTiles;
using Frame = std::vector<std::array<unsigned char, 4>>;

// The picture's top-left corner at frame pixel (-300, 700): frame pixel (x, y), y up, shows level-0
// pixel (x + 300, 699 - y).
constexpr int kLeft = 300, kTop = 700;

zelvan::Placement atOneToOne(const TypedTiles& source) {
    zelvan::Placement p;
    p.centreX = source.width() / 2.0 - kLeft;
    p.centreY = kTop - source.height() / 2.0;
    return p;
}

Frame drawFrame(zelvan::TileView& view) {
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 1, 0, 1, 1);
    view.draw({0, 0, kSurfaceWidth, kSurfaceHeight, 1});
    Frame frame(std::size_t{kSurfaceWidth} * kSurfaceHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

// Frames until complete (the view reads on the drawing thread: a bound on frames).
bool settle(zelvan::TileView& view, std::vector<Frame>* frames = nullptr) {
    for (int i = 0; i < 200; ++i) {
        Frame f = drawFrame(view);
        if (frames != nullptr) frames->push_back(std::move(f));
        if (view.stats().complete) return true;
    }
    return false;
}

// Pixels of a 1:1 frame more than one level from the reference mapping of the source's level 0.
int wrongPixels(const TypedTiles& source, const zelvan::DisplayMapping& m, const Frame& frame) {
    int wrong = 0;
    for (int y = 0; y < kSurfaceHeight; ++y)
        for (int x = 0; x < kSurfaceWidth; ++x) {
            std::vector<double> samples(source.sampleLayout().channels);
            for (unsigned c = 0; c < samples.size(); ++c)
                samples[c] = source.value(0, static_cast<std::uint32_t>(x + kLeft),
                                          static_cast<std::uint32_t>(kTop - 1 - y), c);
            double rgb[3];
            const bool finite = zelvan_test::referencePixel(m, samples, rgb);
            const double want[3] = {finite ? rgb[0] : m.nonFinite.red, finite ? rgb[1] : m.nonFinite.green,
                                    finite ? rgb[2] : m.nonFinite.blue};
            const auto& got = frame[std::size_t(y) * kSurfaceWidth + x];
            for (int k = 0; k < 3; ++k)
                if (std::abs(got[k] - zelvan_test::referenceByte(want[k])) > 1) {
                    ++wrong;
                    break;
                }
        }
    return wrong;
}

zelvan::DisplayMapping twoChannels(double redMax, zelvan::Curve greenCurve) {
    zelvan::DisplayMapping m;
    std::string error;
    m.channels.resize(3);
    EXPECT_TRUE(zelvan::parseChannel("0:#FF2000:0:" + std::to_string(redMax), m.channels[0], error)) << error;
    EXPECT_TRUE(zelvan::parseChannel("1:#00FF00:500:3500", m.channels[1], error)) << error;
    EXPECT_TRUE(zelvan::parseChannel("2:#0000FF:0:4095", m.channels[2], error)) << error;
    m.channels[1].curve = greenCurve;
    m.channels[2].visible = false;
    return m;
}

class TileMapping : public zelvan_test::GlTest {};

TEST_F(TileMapping, ANewMappingComesFromTheRawTilesWithoutAReadABlankOrAThirdColour) {
    TypedTiles source(1500, 1100, {zelvan::SampleType::UInt16, 3});
    zelvan::TileViewOptions options;
    options.readOnDrawingThread = true;
    options.uploadBytesPerFrame = 0;  // a tile a frame: the change spans frames
    zelvan::TileView view(source, options);
    ASSERT_TRUE(view);
    view.place(atOneToOne(source));
    const zelvan::DisplayMapping before = twoChannels(4095, zelvan::Curve::Linear);
    ASSERT_TRUE(view.setMapping(before));
    ASSERT_TRUE(settle(view));
    const Frame old = drawFrame(view);
    EXPECT_EQ(wrongPixels(source, before, old), 0);

    const std::uint64_t reads = source.reads();
    const zelvan::DisplayMapping after = twoChannels(1200, zelvan::Curve::Asinh);
    ASSERT_TRUE(view.setMapping(after));
    std::vector<Frame> frames;
    ASSERT_TRUE(settle(view, &frames));
    const Frame fresh = drawFrame(view);
    EXPECT_EQ(wrongPixels(source, after, fresh), 0);
    EXPECT_EQ(source.reads(), reads);
    EXPECT_GT(frames.size(), 2u);
    for (std::size_t f = 0; f < frames.size(); ++f)
        for (std::size_t p = 0; p < fresh.size(); ++p)
            ASSERT_TRUE(frames[f][p] == old[p] || frames[f][p] == fresh[p])
                << "frame " << f << " pixel " << p;

    // Refused: the picture has 3 channels. The mapping shown stays, and so do the frames.
    zelvan::DisplayMapping invalid = after;
    invalid.channels[0].channel = 3;
    std::string reason;
    EXPECT_FALSE(view.setMapping(invalid, &reason));
    EXPECT_NE(reason.find("only 3 channels"), std::string::npos) << reason;
    EXPECT_EQ(view.mapping().channels[0].channel, 0u);
    EXPECT_TRUE(drawFrame(view) == fresh);
    EXPECT_TRUE(view.stats().complete);
}

TEST_F(TileMapping, WithoutRoomForRawTilesANewMappingReadsAgain) {
    TypedTiles source(1500, 1100, {zelvan::SampleType::Int16, 2});
    zelvan::TileViewOptions options;
    options.readOnDrawingThread = true;
    options.rawBudgetBytes = 0;
    zelvan::TileView view(source, options);
    view.place(atOneToOne(source));
    ASSERT_TRUE(settle(view));
    const std::uint64_t reads = source.reads();
    zelvan::DisplayMapping m;
    m.channels.resize(1);
    m.channels[0] = {1, {10, 200, 90}, true, -2048, 2047, zelvan::Curve::SquareRoot, 0.5, true};
    ASSERT_TRUE(view.setMapping(m));
    ASSERT_TRUE(settle(view));
    EXPECT_EQ(wrongPixels(source, m, drawFrame(view)), 0);
    EXPECT_GT(source.reads(), reads);
    EXPECT_EQ(view.stats().rawBytes, 0u);
}

TEST_F(TileMapping, AutoLimitsComeFromTheWholeCoarseLevelWithoutNaNOrInfinity) {
    TypedTiles source(1500, 1100, {zelvan::SampleType::Float32, 2}, true);
    zelvan::TileViewOptions options;
    options.readOnDrawingThread = true;
    zelvan::TileView view(source, options);
    EXPECT_FALSE(view.autoLimits(0).found);  // nothing read yet
    ASSERT_TRUE(view.waitUntilReady(std::chrono::seconds(10)));
    // The one-tile level: 375 x 275, level 2.
    std::vector<float> finite;
    std::uint64_t nonFinite = 0;
    for (std::uint32_t y = 0; y < 275; ++y)
        for (std::uint32_t x = 0; x < 375; ++x) {
            const double v = source.value(2, x, y, 1);
            if (std::isfinite(v))
                finite.push_back(static_cast<float>(v));
            else
                ++nonFinite;
        }
    std::sort(finite.begin(), finite.end());
    const zelvan::ChannelLimits limits = view.autoLimits(1, 2, 97);
    ASSERT_TRUE(limits.found);
    EXPECT_EQ(limits.min, finite[std::size_t(std::llround(0.02 * double(finite.size() - 1)))]);
    EXPECT_EQ(limits.max, finite[std::size_t(std::llround(0.97 * double(finite.size() - 1)))]);
    const zelvan::ChannelHistogram h = view.histogram(1, 16);
    EXPECT_EQ(h.nonFinite, nonFinite);
    EXPECT_EQ(h.samples, finite.size());
    EXPECT_FALSE(view.autoLimits(2).found);  // no such channel

    // Drawn 1:1 through those limits, NaN and infinities in their own colour.
    zelvan::DisplayMapping m;
    m.channels.resize(1);
    m.channels[0] = {1, {255, 255, 255}, true, limits.min, limits.max, zelvan::Curve::Log, 1, false};
    m.colormap = zelvan::Colormap::Magma;
    m.nonFinite = {0, 255, 255};
    ASSERT_TRUE(view.setMapping(m));
    view.place(atOneToOne(source));
    ASSERT_TRUE(settle(view));
    EXPECT_EQ(wrongPixels(source, m, drawFrame(view)), 0);
}

}  // namespace
