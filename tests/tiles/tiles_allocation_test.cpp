// Every allocation the drawing thread makes for a tile view, failed in turn: nothing throws or
// crashes, and once memory is back the view (unless it came out empty) completes and shows the
// picture exactly, so no failure leaves it stuck (a read held for ever, a tile never asked again).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "failing_allocator.h"
#include "gl_test_environment.h"
#include "procedural_source.h"
#include "reference_mapping.h"
#include "typed_tiles.h"
#include "zelvan_tiles.hpp"

namespace {

using zelvan_test::FailingAllocator;

class TileViewAllocation : public zelvan_test::GlTest {};

// A 1500 x 1100 picture's level-0 pixel (x, y) on frame pixel (x, 511 - y).
zelvan::Placement placed() {
    zelvan::Placement p;
    p.centreX = 750;
    p.centreY = 512 - 550;
    return p;
}
const zelvan::Frame frame{0, 0, zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight, 1};

// Pixels of the 512 x 512 frame that `differs(x, y, rgba)` finds wrong, (x, y) being the level-0 pixel
// the frame pixel shows (frame pixel (x, 511 - y)).
template <typename Differs>
int wrongPixels(Differs differs) {
    std::vector<unsigned char> rgba(std::size_t{512} * 512 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 512, 512, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    int wrong = 0;
    for (std::uint32_t y = 0; y < 512; ++y)
        for (std::uint32_t x = 0; x < 512; ++x)
            wrong += differs(x, 511 - y, &rgba[(std::size_t{y} * 512 + x) * 4]);
    return wrong;
}

TEST_F(TileViewAllocation, EveryFailedAllocationLeavesAViewThatRecovers) {
    zelvan_test::ProceduralTilesOptions coordinates;
    coordinates.pattern = zelvan_test::TilePattern::Coordinates;
    zelvan_test::ProceduralTiles source(1500, 1100, coordinates);
    zelvan::TileViewOptions options;
    options.workers = 1;
    std::size_t failures = 0;
    for (std::size_t failAt = 1;; ++failAt) {
        SCOPED_TRACE(testing::Message() << "allocation " << failAt << " fails");
        FailingAllocator::start(failAt);
        zelvan::TileView view(source, options);
        view.place(placed());
        for (int i = 0; i < 4; ++i) {
            zelvan_support::setUpOrtho(zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight);
            view.draw(frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const bool injected = FailingAllocator::injected();
        FailingAllocator::stop();
        if (!injected) break;
        ++failures;
        if (!view) continue;
        bool complete = false;
        for (int i = 0; i < 2000 && !complete; ++i) {
            zelvan_support::setUpOrtho(zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight);
            view.draw(frame);
            complete = view.stats().complete;
            if (!complete) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(complete);
        const int wrong = wrongPixels([&](std::uint32_t x, std::uint32_t y, const unsigned char* got) {
            unsigned char bgra[4];
            source.pixel(0, x, y, bgra);
            return got[0] != bgra[2] || got[1] != bgra[1] || got[2] != bgra[0];
        });
        ASSERT_EQ(wrong, 0);
    }
    EXPECT_GT(failures, 20u);
}

// The same for a typed picture whose mapping changes while allocations fail (a raw tile kept, a table
// built): once memory is back, the frame shows the new mapping.
TEST_F(TileViewAllocation, EveryFailedAllocationLeavesATypedViewThatRecoversItsMapping) {
    zelvan_test::TypedTiles source(1500, 1100, {zelvan::SampleType::UInt16, 2});
    zelvan::DisplayMapping m;
    m.channels.resize(2);
    m.channels[0] = {0, {255, 0, 40}, true, 100, 3000, zelvan::Curve::SquareRoot, 1, false};
    m.channels[1] = {1, {0, 200, 255}, true, 4000, 500, zelvan::Curve::Log, 2, false};
    zelvan::TileViewOptions options;
    options.readOnDrawingThread = true;
    const auto drawn = [&](zelvan::TileView& view) {
        zelvan_support::setUpOrtho(zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight);
        view.draw(frame);
    };
    std::size_t failures = 0;
    for (std::size_t failAt = 1;; ++failAt) {
        SCOPED_TRACE(testing::Message() << "allocation " << failAt << " fails");
        FailingAllocator::start(failAt);
        zelvan::TileView view(source, options);
        view.place(placed());
        drawn(view);
        const bool mapped = view.setMapping(m);
        for (int i = 0; i < 3; ++i) drawn(view);
        const bool injected = FailingAllocator::injected();
        FailingAllocator::stop();
        if (!injected) break;
        ++failures;
        if (!view) continue;
        ASSERT_TRUE(mapped || view.setMapping(m));
        for (int i = 0; i < 200 && !view.stats().complete; ++i) drawn(view);
        ASSERT_TRUE(view.stats().complete);
        drawn(view);
        const int wrong = wrongPixels([&](std::uint32_t x, std::uint32_t y, const unsigned char* got) {
            double rgb[3];
            zelvan_test::referencePixel(m, {source.value(0, x, y, 0), source.value(0, x, y, 1)}, rgb);
            bool off = false;
            for (int k = 0; k < 3; ++k)
                off = off || std::abs(got[k] - zelvan_test::referenceByte(rgb[k])) > 1;
            return off;
        });
        ASSERT_EQ(wrong, 0);
    }
    EXPECT_GT(failures, 20u);
}

}  // namespace
