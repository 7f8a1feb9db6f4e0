// Still frames: waitUntilComplete makes the first draw the settled frame, pixel for pixel; it gives up
// on reads that never come (the timeout) and on tiles given up; and the automatic limits read the
// one-tile level.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "gl_test_environment.h"
#include "procedural_source.h"
#include "zelvan_tiles.hpp"

namespace {

using zelvan_test::GlTest;
using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;
using zelvan_test::ProceduralTiles;

const zelvan::Frame kFrame{0, 0, kSurfaceWidth, kSurfaceHeight, 1};
constexpr std::chrono::minutes kLong(10);  // never reached: a bound for a broken view, not a time

std::vector<unsigned char> drawFrame(zelvan::TileView& view) {
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 1, 0, 1, 1);
    view.draw(kFrame);
    std::vector<unsigned char> frame(std::size_t{kSurfaceWidth} * kSurfaceHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

std::size_t differingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.size(); i += 4) n += std::memcmp(&a[i], &b[i], 4) != 0;
    return n;
}

// Reads that wait until the test opens the gate (or the read is cancelled), counting what happened.
class GatedTiles final : public zelvan::TileSource {
public:
    explicit GatedTiles(ProceduralTiles& inner) : inner_(inner) {}
    std::size_t levelCount() const override { return inner_.levelCount(); }
    zelvan::TileSize levelSize(std::size_t level) const override { return inner_.levelSize(level); }
    bool readTile(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* pixels, std::size_t pitch,
                  zelvan::TileReadControl& control) override {
        control.onCancel([this] {
            std::lock_guard<std::mutex> lock(mutex_);
            wake_.notify_all();
        });
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++started_;
            wake_.wait(lock, [&] { return open_ || control.cancelled(); });
            if (!open_) return false;
        }
        const bool ok = inner_.read(level, x, y, width, height, pixels, pitch);
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        return ok;
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        wake_.notify_all();
    }
    std::uint64_t started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    std::uint64_t finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }

private:
    ProceduralTiles& inner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool open_ = false;
    std::uint64_t started_ = 0, finished_ = 0;
};

zelvan::Placement turned(double scale, double degrees) {
    zelvan::Placement p;
    p.centreX = kSurfaceWidth * 0.45;
    p.centreY = kSurfaceHeight * 0.55;
    p.scaleX = p.scaleY = scale;
    p.rotateZ = degrees;
    return p;
}

TEST_F(GlTest, AfterWaitUntilCompleteOneDrawIsTheSettledFrame) {
    // Two levels blended, turned; level 0 alone; on workers, on the drawing thread, without stand-ins.
    for (const zelvan::Placement& p : {turned(0.11, 17), turned(1.0, 0)})
        for (const int way : {0, 1, 2}) {
            SCOPED_TRACE(way == 0   ? "reads on workers"
                         : way == 1 ? "reads on the drawing thread"
                                    : "no stand-ins");
            zelvan_test::ProceduralTilesOptions slow;
            slow.cell = 5;
            slow.delay = std::chrono::microseconds(300);
            ProceduralTiles source(6000, 4000, slow);
            zelvan::TileViewOptions options;
            options.readOnDrawingThread = way == 1;
            options.standIns = way != 2;
            zelvan::TileView still(source, options);
            still.place(p);
            ASSERT_TRUE(still.waitUntilComplete(kFrame, kLong));
            const std::vector<unsigned char> first = drawFrame(still);
            EXPECT_TRUE(still.stats().complete);

            zelvan::TileView settled(source, options);
            settled.place(p);
            int frames = 0;
            while (!settled.stats().complete && frames < 20000) {
                drawFrame(settled);
                ++frames;
            }
            ASSERT_TRUE(settled.stats().complete);
            EXPECT_EQ(differingPixels(first, drawFrame(settled)), 0u);
        }
}

TEST_F(GlTest, WaitUntilCompleteGivesUpOnReadsThatDoNotCome) {
    ProceduralTiles pixels(3000, 2000);
    GatedTiles gated(pixels);
    {
        zelvan::TileView view(gated);
        view.place(turned(0.3, 0));
        EXPECT_FALSE(view.waitUntilComplete(kFrame, std::chrono::milliseconds(30)));
        EXPECT_GE(gated.started(), 1u);  // it asked, and nothing came
        EXPECT_EQ(gated.finished(), 0u);
        gated.open();
        EXPECT_TRUE(view.waitUntilComplete(kFrame, kLong));
        EXPECT_GE(gated.finished(), 1u);
    }
    // Every read fails: the tiles are given up, and the wait ends without its timeout.
    ProceduralTiles failing(3000, 2000);
    zelvan_test::TileFailures all;
    all.fraction = 1;
    failing.setFailures(all);
    zelvan::TileViewOptions options;
    options.retries = 1;
    options.retryBackoff = std::chrono::hours(1);
    zelvan::TileView view(failing, options);
    view.place(turned(0.3, 0));
    EXPECT_FALSE(view.waitUntilComplete(kFrame, std::chrono::hours(1)));
    EXPECT_GT(view.stats().readsGivenUp, 0u);
}

// One channel of 16-bit samples, each its level's number.
class LevelNumbers final : public zelvan::TileSource {
public:
    LevelNumbers(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {
        for (std::uint32_t side = std::max(width, height); side > 1; side = side / 2 + side % 2) ++levels_;
    }
    std::size_t levelCount() const override { return levels_; }
    zelvan::TileSize levelSize(std::size_t level) const override {
        const auto halved = [level](std::uint32_t side) {
            return static_cast<std::uint32_t>(((std::uint64_t{side} - 1) >> level) + 1);
        };
        return {halved(width_), halved(height_)};
    }
    zelvan::SampleLayout sampleLayout() const override { return {zelvan::SampleType::UInt16, 1}; }
    bool readSamples(std::size_t level, std::uint32_t, std::uint32_t, std::uint32_t width,
                     std::uint32_t height, void* samples, std::size_t pitch,
                     zelvan::TileReadControl&) override {
        for (std::uint32_t r = 0; r < height; ++r) {
            auto* row = reinterpret_cast<std::uint16_t*>(static_cast<unsigned char*>(samples) + r * pitch);
            for (std::uint32_t c = 0; c < width; ++c) row[c] = static_cast<std::uint16_t>(level);
        }
        return true;
    }

private:
    std::uint32_t width_, height_;
    std::size_t levels_ = 1;
};

TEST_F(GlTest, AutomaticLimitsReadTheOneTileLevel) {
    // The finest level whose sides both fit 512, halving rounded up: 50000 -> 391 at level 7 (the level
    // after, 196, is the one whose textures with their edge strips fit 1 MiB); 20000 x 12000 -> 313 x 188
    // at level 6 (level 5, 625 x 375, is two tiles wide but fits 1 MiB); 512 x 300 is its own.
    struct Case {
        std::uint32_t width, height, level, levelWidth, levelHeight;
    };
    for (const Case& c :
         {Case{50000, 50000, 7, 391, 391}, Case{20000, 12000, 6, 313, 188}, Case{512, 300, 0, 512, 300}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        LevelNumbers source(c.width, c.height);
        zelvan::TileView view(source);
        ASSERT_TRUE(view.waitUntilReady(kLong));
        const zelvan::ChannelLimits limits = view.autoLimits(0, 0, 100);
        EXPECT_TRUE(limits.found);
        EXPECT_EQ(limits.min, c.level);
        const zelvan::ChannelHistogram h = view.histogram(0);
        EXPECT_EQ(h.low, c.level);
        EXPECT_EQ(h.samples, std::uint64_t{c.levelWidth} * c.levelHeight);
    }
}

}  // namespace
