// The tile view's contract on a real context, frames read back: views that move, why a view is empty, a
// view that outlives its library, reads cancelled when no longer wanted, retry-after and back-off, a
// first frame that is not blank when the view may wait for it, and what the stats say of the levels.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "procedural_source.h"
#include "zelvan_tiles.hpp"

namespace {

using namespace std::chrono_literals;
using zelvan::TileView;
using zelvan::TileViewStatus;
using zelvan_support::Rgba;
using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;
using zelvan_test::ProceduralTiles;
using zelvan_test::TilePattern;

const zelvan::Frame kFrame{0, 0, kSurfaceWidth, kSurfaceHeight, 1};
constexpr int kAll = kSurfaceWidth * kSurfaceHeight;

std::vector<Rgba> drawFrame(TileView* views, std::size_t count = 1) {
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 1, 0, 1, 1);  // magenta: in no picture
    for (std::size_t i = 0; i < count; ++i) views[i].draw(kFrame);
    std::vector<Rgba> frame(kAll);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}
int background(const std::vector<Rgba>& frame) {
    return static_cast<int>(std::count_if(
        frame.begin(), frame.end(), [](const Rgba& c) { return c.r == 255 && c.g == 0 && c.b == 255; }));
}
// Draws frames until done() (a bound on frames, not on time).
template <typename Done>
bool drawUntil(TileView& view, Done done) {
    for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(2ms))
        if (drawFrame(&view), done()) return true;
    return false;
}
bool settle(TileView& view) {
    return drawUntil(view, [&] { return view.stats().complete; });
}
zelvan::Placement at(double scale, double x, double y) { return {x, y, 0, 0, 0, 0, scale, scale}; }
// At scale 1 about (256, 256), a 4096 x 4096 picture fills the frame with level-0 pixels 1792 to 2303:
// tiles 3 and 4 across and down.
const zelvan::Placement kMiddle = at(1, 256, 256);

// Frame pixels (width x height, bottom left at (x0, y0)) that are not level-0 pixel (u0 + x, v0 + y),
// y downwards.
int wrongPixels(const std::vector<Rgba>& frame, ProceduralTiles& source, int x0, int y0, int width,
                int height, std::uint32_t u0 = 0, std::uint32_t v0 = 0) {
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char bgra[4];
            source.pixel(0, u0 + x, v0 + y, bgra);
            const Rgba& c = frame[std::size_t(y0 + height - 1 - y) * kSurfaceWidth + x0 + x];
            wrong += c.r != bgra[2] || c.g != bgra[1] || c.b != bgra[0];
        }
    return wrong;
}

// A 4096 x 4096 picture whose reads first pass `hook` (on the workers), which may fail them or wait.
struct Scripted final : zelvan::TileSource {
    ProceduralTiles pixels{4096, 4096, {TilePattern::Coordinates}};
    std::function<bool(std::size_t, std::uint32_t, std::uint32_t, zelvan::TileReadControl&)> hook;
    std::mutex mutex;  // over what the hook records
    std::condition_variable changed;

    std::size_t levelCount() const override { return pixels.levelCount(); }
    zelvan::TileSize levelSize(std::size_t level) const override { return pixels.levelSize(level); }
    bool readTile(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                  std::uint32_t height, unsigned char* out, std::size_t pitch,
                  zelvan::TileReadControl& control) override {
        return hook(level, x, y, control) && pixels.read(level, x, y, width, height, out, pitch);
    }
    template <typename F>
    auto note(F f) {  // f under the lock; waiters look once it is released
        std::lock_guard<std::mutex> lock(mutex);
        changed.notify_all();
        return f();
    }
    template <typename P>
    bool await(P holds) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 60s, holds);  // a bound on a hang, not on speed
    }
};

class TileContract : public zelvan_test::GlTest {};

TEST_F(TileContract, ViewsMoveIntoAVectorAndEachDrawsWhereItIsPlaced) {
    std::vector<std::unique_ptr<ProceduralTiles>> sources;
    std::vector<TileView> views;
    for (int i = 0; i < 3; ++i) {
        sources.push_back(std::make_unique<ProceduralTiles>(
            150, 100, zelvan_test::ProceduralTilesOptions{TilePattern::Coordinates}));
        views.push_back(TileView(*sources.back()));  // the vector grows: the views before move
        views.back().place(at(1, 80 + 160 * i, 60 + 150 * i));
    }
    bool complete = false;
    for (int i = 0; i < 3000 && !complete; ++i, std::this_thread::sleep_for(2ms)) {
        drawFrame(views.data(), views.size());
        complete = std::all_of(views.begin(), views.end(), [](TileView& v) { return v.stats().complete; });
    }
    ASSERT_TRUE(complete);
    std::vector<Rgba> frame = drawFrame(views.data(), views.size());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(wrongPixels(frame, *sources[i], 5 + 160 * i, 10 + 150 * i, 150, 100), 0);
    EXPECT_EQ(background(frame), kAll - 3 * 150 * 100);

    TileView moved(std::move(views[1]));
    EXPECT_EQ(views[1].status(), TileViewStatus::Empty);
    views[0] = std::move(moved);  // the first view's textures go, the second's draw in its place
    EXPECT_EQ(moved.status(), TileViewStatus::Empty);
    EXPECT_EQ(moved.stats().tilesResident, 0u) << "the moved-from view still holds textures";
    frame = drawFrame(views.data(), views.size());
    EXPECT_EQ(wrongPixels(frame, *sources[1], 165, 160, 150, 100), 0);
    EXPECT_EQ(background(frame), kAll - 2 * 150 * 100);
}

struct Throwing final : zelvan::TileSource {
    std::size_t levelCount() const override { throw std::runtime_error("no levels"); }
    zelvan::TileSize levelSize(std::size_t) const override { return {}; }
};
struct TooManyChannels final : zelvan::TileSource {
    std::size_t levelCount() const override { return 1; }
    zelvan::TileSize levelSize(std::size_t) const override { return {10, 10}; }
    zelvan::SampleLayout sampleLayout() const override { return {zelvan::SampleType::UInt16, 65}; }
};

TEST_F(TileContract, AnEmptyViewSaysWhy) {
    ProceduralTiles good(100, 100), empty(0, 100);
    Throwing throwing;
    EXPECT_EQ(TileView(good).status(), TileViewStatus::Ready);
    EXPECT_EQ(TileView().status(), TileViewStatus::Empty);
    EXPECT_EQ(TileView(empty).status(), TileViewStatus::BadLevels);
    EXPECT_EQ(TileView(throwing).status(), TileViewStatus::SourceFailed);
    TooManyChannels tooMany;
    EXPECT_EQ(TileView(tooMany).status(), TileViewStatus::BadSamples);
    ZelvanShutdown();
    EXPECT_EQ(TileView(good).status(), TileViewStatus::NoLibrary);
    std::set<std::string> texts;
    for (int s = 0; s <= static_cast<int>(TileViewStatus::LibraryGone); ++s)
        texts.insert(zelvan::describe(static_cast<TileViewStatus>(s)));
    EXPECT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts.count(""), 0u);
}

TEST_F(TileContract, AViewThatOutlivesItsLibraryDrawsNothingThenOrInTheNextOne) {
    ZelvanShutdown();  // the fixture's instance: this test's come and go through Library
    auto library = std::make_unique<zelvan::Library>();
    ProceduralTiles source(4096, 4096);
    TileView view(source);
    view.place(kMiddle);
    ASSERT_TRUE(settle(view));
    ASSERT_GT(view.stats().tilesResident, 0u);
    library.reset();
    EXPECT_EQ(view.status(), TileViewStatus::LibraryGone);
    EXPECT_EQ(view.stats().tilesResident, 0u);  // before any draw: the textures went with the library
    EXPECT_EQ(view.stats().residentBytes, 0u);
    EXPECT_EQ(background(drawFrame(&view)), kAll);
    library = std::make_unique<zelvan::Library>();
    zelvan_support::GlRecorder recorder;
    view.invalidate(0, 0, 4096, 4096);
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(2ms))
        EXPECT_EQ(background(drawFrame(&view)), kAll);
    for (const std::string& call : recorder.calls()) EXPECT_NE(call.rfind("glTexImage2D", 0), 0u) << call;
    EXPECT_EQ(ZelvanGetHBlocks(1), 0u) << "the view made an image in the new instance";
}

// Each of level 0's reads waits for its cancellation far longer than the test runs: a read that returns
// cancelled learned of it from the view, not from the wait running out.
TEST_F(TileContract, ReadsNoLongerWantedAreCancelledAndTheDestructorCancelsTheRest) {
    Scripted source;
    std::set<std::uint32_t> started;         // level 0's reads, by column
    std::map<std::uint32_t, bool> returned;  // by column: whether the read returned cancelled
    source.hook = [&](std::size_t level, std::uint32_t x, std::uint32_t, zelvan::TileReadControl& control) {
        if (level != 0) return true;
        source.note([&] { return started.insert(x); });
        const bool cancelled = control.waitFor(120s);
        source.note([&] { return returned[x] = cancelled; });
        return !cancelled;
    };
    zelvan::TileViewOptions options;
    options.workers = 2;
    auto view = std::make_unique<TileView>(source, options);
    view->place(at(1, 1024, -512));  // level-0 pixels 1024 to 1535 across and down: tile A, at (2, 2)
    drawFrame(view.get());
    ASSERT_TRUE(source.await([&] { return started.count(1024) != 0; }));
    view->place(at(1, 2048, -512));  // tile (0, 2) instead
    drawFrame(view.get());
    ASSERT_TRUE(source.await([&] { return returned.count(1024) != 0; }));
    EXPECT_TRUE(returned[1024]) << "the read of tile A was not told it is no longer wanted";
    drawFrame(view.get());  // takes the cancelled read back
    EXPECT_EQ(view->stats().readsCancelled, 1u);
    EXPECT_EQ(view->stats().readsFailed, 0u);
    ASSERT_TRUE(source.await([&] { return started.count(0) != 0; }));
    view.reset();  // returns once its reads have: the one under way must have been cancelled
    std::lock_guard<std::mutex> lock(source.mutex);
    ASSERT_EQ(returned.count(0), 1u);
    EXPECT_TRUE(returned[0]) << "the destructor waited for a read nobody wants";
}

// Level 0's tile (4, 4) fails, and each wait is far longer than the test, so that it is seen through what
// the view reads and reports, never by racing the clock: once with retry-after an hour, then invalidated;
// or given up for an hour, and retryGivenUp() called; or twice, given up for a moment each time, after
// which it is tried again on its own.
TEST_F(TileContract, FailedReadsWaitForRetryAfterOrBackoffShowingTheCoarserLevel) {
    for (const int way : {0, 1, 2}) {
        SCOPED_TRACE(way == 0 ? "retryAfter" : way == 1 ? "back-off" : "back-off runs out");
        Scripted source;
        int failures = way == 2 ? 2 : 1;  // way 1: until the source recovers
        std::size_t reads = 0;
        source.hook = [&](std::size_t level, std::uint32_t x, std::uint32_t y, zelvan::TileReadControl& c) {
            return level != 0 || x != 2048 || y != 2048 || source.note([&] {
                ++reads;
                if (failures == 0) return true;
                if (way == 0) c.retryAfter(1h);
                if (way != 1) --failures;
                return false;
            });
        };
        zelvan::TileViewOptions options;
        options.retries = way == 0 ? 2 : 0;
        options.retryBackoff = way == 2 ? 1ms : std::chrono::milliseconds(1h);
        TileView view(source, options);
        view.place(kMiddle);
        if (way < 2) {
            ASSERT_TRUE(drawUntil(
                view, [&] { return view.stats().readsFailed == 1 && view.stats().readsPending == 0; }));
            for (int i = 0; i < 30; ++i) drawFrame(&view);  // thirty frames that would ask for it again
            const std::vector<Rgba> frame = drawFrame(&view);
            const zelvan::TileStats stats = view.stats();
            EXPECT_EQ(source.note([&] { return reads; }), 1u) << "read again before its wait ended";
            ASSERT_EQ(stats.givenUp.size(), way == 0 ? 0u : 1u);
            if (way == 1) {
                EXPECT_EQ(
                    std::make_tuple(stats.givenUp[0].level, stats.givenUp[0].column, stats.givenUp[0].row),
                    std::make_tuple(0u, 4u, 4u));
            }
            EXPECT_EQ(stats.readsGivenUp, way == 0 ? 0u : 1u);
            EXPECT_FALSE(stats.complete);
            EXPECT_EQ(background(frame), 0) << "the coarser level stands in for the tile";
            EXPECT_EQ(wrongPixels(frame, source.pixels, 0, 0, 256, 512, 1792, 1792), 0)
                << "tiles (3, 3), (3, 4)";
            source.note([&] { return failures = 0; });
            if (way == 0) view.invalidate(2048, 2048, 512, 512);  // forgets the tile's failure
            if (way == 1) view.retryGivenUp();
        }
        ASSERT_TRUE(settle(view));
        EXPECT_EQ(wrongPixels(drawFrame(&view), source.pixels, 0, 0, 512, 512, 1792, 1792), 0);
        EXPECT_EQ(view.stats().readsGivenUp, way == 0 ? 0u : way == 1 ? 1u : 2u);
        EXPECT_EQ(source.note([&] { return reads; }), way == 2 ? 3u : 2u);
    }
}

// The source holds its reads (way 2 until the first frame is drawn): a view that may wait draws its first
// frame whole, one that may not draws it at once, empty, and whole once the reads come.
TEST_F(TileContract, FirstFrameIsWholeWhenTheViewMayWaitForIt) {
    for (const int way : {0, 1, 2}) {  // firstDrawWait, waitUntilReady, neither
        SCOPED_TRACE(way == 0 ? "firstDrawWait" : way == 1 ? "waitUntilReady" : "neither");
        Scripted source;
        bool released = way != 2;
        source.hook = [&](std::size_t, std::uint32_t, std::uint32_t, zelvan::TileReadControl&) {
            std::this_thread::sleep_for(20ms);  // slow enough that a view that did not wait shows gaps
            return source.await([&] { return released; });
        };
        zelvan::TileViewOptions options;
        options.firstDrawWait = way == 0 ? std::chrono::milliseconds(1h) : 0ms;  // waits until ready
        TileView view(source, options);
        view.place(kMiddle);
        if (way == 1) {
            EXPECT_TRUE(view.waitUntilReady(1h));
            EXPECT_TRUE(view.ready());
        }
        const int blank = background(drawFrame(&view));
        if (way != 2) {
            EXPECT_EQ(blank, 0);
            continue;
        }
        EXPECT_EQ(blank, kAll) << "a tile came although every read is held";
        EXPECT_FALSE(view.ready());
        EXPECT_GT(view.stats().readsPending, 0u);
        source.note([&] { return released = true; });
        ASSERT_TRUE(settle(view));
        EXPECT_EQ(wrongPixels(drawFrame(&view), source.pixels, 0, 0, 512, 512, 1792, 1792), 0);
    }
}

TEST_F(TileContract, StatsTellTheLevelsDrawnAndWhetherTheBudgetChoseThem) {
    ProceduralTiles source(4096, 4096);
    zelvan::TileViewOptions small;
    small.budgetBytes = std::size_t{3} << 20;  // level 0's four tiles need 4 MiB
    TileView limited(source, small), blended(source);
    limited.place(kMiddle);
    blended.place(at(0.35, 256, 256));  // between levels 1 and 2
    ASSERT_TRUE(settle(limited));
    ASSERT_TRUE(settle(blended));
    const zelvan::TileStats a = limited.stats(), b = blended.stats();
    EXPECT_TRUE(a.budgetLimited);
    EXPECT_EQ(a.scaleLevel, 0u);
    EXPECT_GT(a.level, a.scaleLevel);
    EXPECT_EQ(a.coarserLevel, a.level);
    EXPECT_FALSE(b.budgetLimited);
    EXPECT_EQ(std::make_tuple(b.scaleLevel, b.level, b.coarserLevel), std::make_tuple(1u, 1u, 2u));
}

}  // namespace

// A still frame needs no stand-ins: without them neither the pinned level (level 3 here) nor the
// coarser of the two levels blended is read, and the finished frame is the usual view's, pixel for pixel.
TEST_F(TileContract, WithoutStandInsOnlyTheLevelShownIsReadAndTheFrameIsTheSame) {
    ProceduralTiles pinnedSource(4096, 4096), stillSource(4096, 4096);
    zelvan::TileViewOptions still;
    still.standIns = false;
    TileView pinned(pinnedSource, {}), unpinned(stillSource, still);
    for (TileView* view : {&pinned, &unpinned}) view->place(at(0.35, 256, 256));  // levels 1 and 2
    EXPECT_FALSE(unpinned.ready());
    ASSERT_TRUE(settle(pinned));
    ASSERT_TRUE(settle(unpinned));
    EXPECT_TRUE(unpinned.ready());
    for (const zelvan_test::TileRead& read : stillSource.readLog()) EXPECT_EQ(read.level, 1u);
    const std::vector<Rgba> expected = drawFrame(&pinned), frame = drawFrame(&unpinned);
    int different = 0;
    for (int i = 0; i < kAll; ++i)
        different += std::tie(frame[i].r, frame[i].g, frame[i].b) !=
                     std::tie(expected[i].r, expected[i].g, expected[i].b);
    EXPECT_EQ(different, 0);
}
