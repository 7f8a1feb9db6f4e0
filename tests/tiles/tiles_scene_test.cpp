// Many tile views in one scene, on a real context: one texture budget and one pool of workers for a
// hundred pictures, never blank once their coarse level is in; a navigator that reads and uploads nothing
// the main view did not; a thumbnail that neither delays the main view's reads nor takes its budget;
// views made and destroyed while their reads run; and the placement helpers against geometry worked out
// here, checked on the pixels drawn.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "gl_test_environment.h"
#include "procedural_source.h"
#include "sanitizers.h"
#include "zelvan_tiles.hpp"

namespace {

using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;
using zelvan_test::ProceduralTiles;
using zelvan_test::ProceduralTilesOptions;

class TileScene : public zelvan_test::GlTest {};

// A procedural picture whose reads note the threads they run on.
class WatchedSource final : public zelvan::TileSource {
public:
    WatchedSource(std::uint32_t side, const ProceduralTilesOptions& options = {})
        : tiles(side, side, options) {}
    std::size_t levelCount() const override { return tiles.levelCount(); }
    zelvan::TileSize levelSize(std::size_t level) const override { return tiles.levelSize(level); }
    bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        }
        return tiles.read(level, x, y, width, height, pixels, pitch);
    }
    ProceduralTiles tiles;
    static std::mutex mutex;
    static std::set<std::thread::id> threads;
};
std::mutex WatchedSource::mutex;
std::set<std::thread::id> WatchedSource::threads;

// Draws a view into the surface's rectangle from (x, y), `width` x `height` pixels, a unit a pixel.
void drawIn(zelvan::TileView& view, int x, int y, int width, int height) {
    glViewport(x, y, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    view.draw({0, 0, double(width), double(height), 1});
}
void clearSurface() { zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 1, 0, 1, 1); }

TEST_F(TileScene, HundredPicturesShareOneBudgetAndEightReaders) {
    constexpr int kCell = 51, kSide = 10;
    zelvan::TileScene scene;  // 256 MiB, at most 8 workers
    ASSERT_TRUE(scene);
    std::vector<std::unique_ptr<WatchedSource>> sources;
    std::vector<zelvan::TileView> views;
    for (int i = 0; i < kSide * kSide; ++i) {
        sources.push_back(std::make_unique<WatchedSource>(100000));
        views.emplace_back(scene, *sources.back());
        ASSERT_TRUE(views.back());
        // 2 units a pixel, the cell's centre on pixel (50176, 50176), a corner of level 0's tiles: 4 tiles
        // a view, 4 MiB, 400 MiB for them all.
        zelvan::Placement p;
        p.centreX = kCell / 2.0 - 352, p.centreY = kCell / 2.0 + 352, p.scaleX = p.scaleY = 2;
        views.back().place(p);
    }
    WatchedSource::threads.clear();
    // A view once ready (its coarse level in) stays whole in every later frame, to its cell's last pixel,
    // while the budget holds little more than half of what the views ask for.
    std::vector<bool> wasReady(views.size());
    std::size_t readyViews = 0;
    std::vector<std::uint8_t> frame(std::size_t{kSide} * kCell * kSide * kCell * 4);
    for (int n = 0; n < 3000 && readyViews < views.size(); ++n) {
        clearSurface();
        for (std::size_t i = 0; i < views.size(); ++i) {
            wasReady[i] = wasReady[i] || views[i].ready();
            drawIn(views[i], int(i % kSide) * kCell, int(i / kSide) * kCell, kCell, kCell);
        }
        ASSERT_LE(scene.stats().residentBytes, std::size_t{256} << 20) << "frame " << n;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kSide * kCell, kSide * kCell, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
        readyViews = 0;
        for (std::size_t i = 0; i < views.size(); ++i) {
            if (!wasReady[i]) continue;
            ++readyViews;
            std::size_t blank = 0;
            for (int y = int(i / kSide) * kCell; y < int(i / kSide + 1) * kCell; ++y)
                for (int x = int(i % kSide) * kCell; x < int(i % kSide + 1) * kCell; ++x) {
                    const std::uint8_t* p = &frame[(std::size_t(y) * kSide * kCell + x) * 4];
                    blank += p[0] == 255 && p[1] == 0 && p[2] == 255;
                }
            ASSERT_EQ(blank, 0u) << "view " << i << ", frame " << n;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(readyViews, views.size());
    const zelvan::TileSceneStats stats = scene.stats();
    EXPECT_EQ(stats.views, views.size());
    EXPECT_EQ(stats.pictures, views.size());
    EXPECT_LE(stats.threads, 8u);
    EXPECT_LE(WatchedSource::threads.size(), 8u);
    EXPECT_GT(WatchedSource::threads.size(), 0u);
}

// Reads and uploads until the main view (512 x 512, a tenth of a 100000 x 100000 picture around its
// centre) is complete, with a navigator of the whole picture (128 x 128) beside it or not.
std::pair<std::uint64_t, std::uint64_t> mainViewCost(bool navigator) {
    ProceduralTiles source(100000, 100000);
    zelvan::TileScene scene;
    zelvan::TileView main(scene, source), overview(scene, source);
    zelvan::Placement p;
    p.centreX = p.centreY = 256;
    p.scaleX = p.scaleY = 0.1;
    main.place(p);
    overview.place(zelvan::fit(100000, 100000, 128, 128));
    for (int frame = 0; frame < 3000; ++frame) {
        clearSurface();
        drawIn(main, 0, 0, kSurfaceWidth, kSurfaceHeight);
        if (navigator) drawIn(overview, 0, 0, 128, 128);
        if (main.stats().complete && (!navigator || overview.stats().complete)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(main.stats().complete);
    return {source.reads(), scene.stats().uploads};
}

TEST_F(TileScene, NavigatorReadsAndUploadsNothingMore) {
    const auto alone = mainViewCost(false), together = mainViewCost(true);
    EXPECT_GT(alone.first, 0u);
    EXPECT_EQ(together.first, alone.first) << "reads";
    EXPECT_EQ(together.second, alone.second) << "uploads";
}

// A main view (512 x 512 at 0.8 of a 20000 x 20000 picture: 14 reads) and, with `thumbnail`, an 80 x 60
// view of another part of it at scale 1 (on a corner of 4 tiles); one worker, reads of 20 ms. The reads
// made until the main view's first complete frame, in the order they started, and the level it drew.
std::pair<std::vector<zelvan_test::TileRead>, std::size_t> mainViewFirstFrame(bool thumbnail,
                                                                              std::size_t budget) {
    ProceduralTilesOptions slow;
    slow.delay = std::chrono::milliseconds(20);
    slow.pixels = false;
    ProceduralTiles source(20000, 20000, slow);
    zelvan::TileSceneOptions options;
    options.workers = 1;
    options.budgetBytes = budget;
    zelvan::TileScene scene(options);
    zelvan::TileView main(scene, source), small(scene, source);
    zelvan::Placement p;
    p.centreX = p.centreY = 256;
    p.scaleX = p.scaleY = 0.8;
    main.place(p);
    p.centreX = 40 + 10000 - 4096, p.centreY = 30 - 10000 + 4096;  // (40, 30) on pixel (4096, 4096)
    p.scaleX = p.scaleY = 1;
    small.place(p);
    for (int frame = 0; frame < 3000 && !main.stats().complete; ++frame) {
        clearSurface();
        drawIn(main, 0, 0, kSurfaceWidth, kSurfaceHeight);
        if (thumbnail) drawIn(small, 0, 0, 80, 60);
        if (!main.stats().complete) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(main.stats().complete);
    return {source.readLog(), main.stats().level};
}

// The reads that started before the last of those the main view made alone: how long it waited.
double readsBefore(const std::vector<zelvan_test::TileRead>& alone,
                   const std::vector<zelvan_test::TileRead>& together) {
    std::set<std::tuple<std::size_t, std::uint32_t, std::uint32_t>> mainReads;
    for (const auto& r : alone) mainReads.insert({r.level, r.x, r.y});
    std::size_t last = 0;
    for (std::size_t i = 0; i < together.size(); ++i)
        if (mainReads.count({together[i].level, together[i].x, together[i].y})) last = i + 1;
    return double(last);
}

TEST_F(TileScene, ThumbnailNeitherDelaysNorShrinksTheMainView) {
    // Room for all: the thumbnail's reads wait for the main view's.
    const auto alone = mainViewFirstFrame(false, std::size_t{256} << 20);
    const auto together = mainViewFirstFrame(true, std::size_t{256} << 20);
    EXPECT_GE(alone.first.size(), 14u);
    EXPECT_LE(readsBefore(alone.first, together.first), 1.2 * double(alone.first.size()));
    // A budget the main view's frame barely fits (13 MiB of 14): the thumbnail's share leaves it its level.
    const auto shortAlone = mainViewFirstFrame(false, std::size_t{28} << 20);
    const auto shortTogether = mainViewFirstFrame(true, std::size_t{28} << 20);
    EXPECT_EQ(shortTogether.second, shortAlone.second);
    EXPECT_LE(readsBefore(shortAlone.first, shortTogether.first), 1.2 * double(shortAlone.first.size()));
}

TEST_F(TileScene, ViewsMadeAndDestroyedWhileReadsRun) {
#if defined(ZT_ADDRESS_SANITIZER)
    constexpr int kViews = 500;
#else
    constexpr int kViews = 10000;
#endif
    ProceduralTilesOptions slowish;
    slowish.delay = std::chrono::microseconds(200);
    slowish.pixels = false;
    ProceduralTiles shared(50000, 50000, slowish);
    zelvan::TileScene scene;
    zelvan::TileView keeper(scene, shared);
    keeper.place(zelvan::fit(50000, 50000, 64, 64));
    for (int i = 0; i < kViews; ++i) {
        auto own = std::make_unique<ProceduralTiles>(30000, 20000, slowish);
        {
            zelvan::TileView view(scene, i % 2 ? shared : *own);
            zelvan::Placement p;
            p.centreX = i % 4096, p.centreY = 16, p.scaleX = p.scaleY = 1;
            view.place(p);
            drawIn(view, 0, 0, 32, 32);
            if (i % 10 == 0) drawIn(keeper, 0, 0, 64, 64);
        }
        // The view's reads of a picture it alone showed have returned; the picture has gone.
        ASSERT_EQ(own->readsInProgress(), 0u) << "view " << i;
        ASSERT_EQ(scene.stats().views, 1u);
        ASSERT_EQ(scene.stats().pictures, 1u);
    }
    for (int frame = 0; frame < 3000 && !keeper.stats().complete; ++frame) {
        drawIn(keeper, 0, 0, 64, 64);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(keeper.stats().complete);
}

TEST_F(TileScene, PlacementHelpersMatchTheGeometryDrawn) {
    ProceduralTilesOptions coordinates;
    coordinates.pattern = zelvan_test::TilePattern::Coordinates;
    ProceduralTiles source(2000, 1000, coordinates);
    zelvan::TileView view(source);
    zelvan::Placement p;
    p.centreX = 250, p.centreY = 240, p.rotateZ = 30, p.scaleX = p.scaleY = 3;
    view.place(p);
    const zelvan::Frame frame{0, 0, kSurfaceWidth, kSurfaceHeight, 1};
    for (int i = 0; i < 3000 && !view.stats().complete; ++i) {
        clearSurface();
        view.draw(frame);
    }
    ASSERT_TRUE(view.stats().complete);
    const double c = std::cos(std::acos(-1.0) / 6), s = std::sin(std::acos(-1.0) / 6);
    int checked = 0;
    for (std::uint32_t y = 440; y < 560; y += 7)
        for (std::uint32_t x = 960; x < 1080; x += 9) {
            // The texel's centre, from the picture's centre: right along the turned x axis, down along
            // the turned -y axis, 3 units a pixel.
            const double dx = (x + 0.5 - 1000) * 3, dy = -(y + 0.5 - 500) * 3;
            const double ux = 250 + dx * c - dy * s, uy = 240 + dx * s + dy * c;
            const zelvan::PlanePoint units = view.unitsFromPicture(x + 0.5, y + 0.5);
            ASSERT_NEAR(units.x, ux, 1e-3);
            ASSERT_NEAR(units.y, uy, 1e-3);
            const zelvan::PlanePoint back = view.pictureFromUnits(ux, uy);
            ASSERT_NEAR(back.x, x + 0.5, 1e-6);
            ASSERT_NEAR(back.y, y + 0.5, 1e-6);
            if (ux < 0 || uy < 0 || ux >= kSurfaceWidth || uy >= kSurfaceHeight) continue;
            const zelvan_support::Rgba shown = zelvan_support::readPixel(int(ux), int(uy));
            EXPECT_EQ(unsigned(shown.b | (shown.r & 15) << 8), x % 4096) << x << ", " << y;
            EXPECT_EQ(unsigned(shown.g | (shown.r >> 4) << 8), y % 4096) << x << ", " << y;
            ++checked;
        }
    EXPECT_GT(checked, 100);
    const zelvan::PlanePoint none = zelvan::TileView().pictureFromUnits(1, 1);
    EXPECT_TRUE(std::isnan(none.x) && std::isnan(none.y));
}

}  // namespace
