// zelvan::TileScene, many views sharing one budget and one pool of workers:
// - tiles_scene_idle_views: what a view made in a scene and never drawn costs: heap bytes (glibc's
//   mallinfo2, before and after making 1000 of them) and threads (/proc/self/task), for views of one
//   picture and for views each of its own picture. Goal: at most 16 KiB and no thread a view.
// - tiles_scene_pan: 20 views side by side (a 5 x 4 grid of 10^6 x 10^6 pictures, each at one screen
//   pixel per pixel), panned together for 600 frames, against one view covering the same screen pixels
//   panned the same way (goal: at most 1.3 times as long); and 20 views of one picture, each showing its
//   part of what the one view shows: the same tiles read and uploaded, the views' own cost alone.
#include <GL/gl.h>
#include <malloc.h>

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <vector>

#include "contest.h"
#include "gl_pixels.h"
#include "procedural_tiles.h"
#include "suites.h"
#include "summary_reporter.h"
#include "zelvan_tiles.hpp"

namespace zelvan_bench {

namespace {

constexpr int kScreen = 1024, kColumns = 5, kRows = 4, kFrames = 600;
constexpr std::uint32_t kSide = 1000000;

double heapBytes() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    return static_cast<double>(mallinfo2().uordblks);
#else
    return 0;
#endif
}
double threads() {
    std::error_code error;
    double count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", error);
         !error && it != std::filesystem::directory_iterator(); ++it)
        ++count;
    return count;
}

void idleViews(benchmark::State& state) {
    constexpr int kViews = 1000;
    zelvan::Library library;
    zelvan_support::ProceduralTiles shared(kSide, kSide);
    std::vector<std::unique_ptr<zelvan_support::ProceduralTiles>> own;
    for (int i = 0; i < kViews; ++i)
        own.push_back(std::make_unique<zelvan_support::ProceduralTiles>(kSide, kSide));
    double sharedBytes = 0, ownBytes = 0, threadsAdded = 0, microsPerView = 0;
    bool ok = true;
    for (auto _ : state) {
        zelvan::TileScene scene;
        zelvan::TileView first(scene, shared);  // the picture's own cost is not a view's
        std::vector<zelvan::TileView> views;
        views.reserve(2 * kViews);
        const double threadsBefore = threads(), start = now();
        double before = heapBytes();
        for (int i = 0; i < kViews; ++i) views.emplace_back(scene, shared);
        sharedBytes = (heapBytes() - before) / kViews;
        before = heapBytes();
        for (int i = 0; i < kViews; ++i) views.emplace_back(scene, *own[i]);
        ownBytes = (heapBytes() - before) / kViews;
        // The iteration's time is the 2000 views': a view's alone would ask the minimum time of a
        // hundred thousand iterations.
        const double seconds = now() - start;
        state.SetIterationTime(seconds);
        microsPerView = seconds * 1e6 / (2 * kViews);
        threadsAdded = threads() - threadsBefore;
        for (const zelvan::TileView& v : views) ok = ok && v;
    }
    state.counters["bytes_per_view"] = sharedBytes;
    state.counters["bytes_per_view_own_picture"] = ownBytes;
    state.counters["threads_added"] = threadsAdded;
    state.counters["micros_per_view"] = microsPerView;
    if (!ok) state.SkipWithError("a view came out empty");
}

// Where every view's picture lies at `frame`: moving 3 pixels right and 2 up a frame.
zelvan::Placement panned(int frame, double width, double height) {
    zelvan::Placement p;
    p.centreX = width / 2 - 3.0 * frame;
    p.centreY = height / 2 + 2.0 * frame;
    return p;
}

// Draws `views` in a kColumns x kRows grid over the screen (one view: the whole screen), panned to
// `frame`; `tiled`: each view shows its cell's part of one picture placed over the whole screen.
void drawGrid(std::vector<zelvan::TileView>& views, int frame, bool tiled) {
    const int columns = views.size() == 1 ? 1 : kColumns, rows = views.size() == 1 ? 1 : kRows;
    const int width = kScreen / columns, height = kScreen / rows;
    for (std::size_t i = 0; i < views.size(); ++i) {
        glViewport(static_cast<int>(i) % columns * width, static_cast<int>(i) / columns * height, width,
                   height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, width, 0, height, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        zelvan::Placement p = panned(frame, width, height);
        if (tiled) {
            p = panned(frame, kScreen, kScreen);
            p.centreX -= static_cast<int>(i) % columns * width;
            p.centreY -= static_cast<int>(i) / columns * height;
        }
        views[i].place(p);
        views[i].draw({0, 0, double(width), double(height), 1});
    }
}

void pan(benchmark::State& state) {
    std::vector<std::unique_ptr<zelvan_support::ProceduralTiles>> sources;
    for (int i = 0; i < kColumns * kRows; ++i)
        sources.push_back(std::make_unique<zelvan_support::ProceduralTiles>(kSide, kSide));
    zelvan::Library library;
    bool ok = true;
    double sceneUploads = 0, aloneUploads = 0, tiledUploads = 0;
    const auto run = [&](std::vector<zelvan::TileView>& views, double& uploads, bool tiled = false) {
        zelvan_support::setUpOrtho(kScreen, kScreen);
        for (zelvan::TileView& v : views) ok = v.waitUntilReady(std::chrono::seconds(30)) && ok;
        glFinish();
        const double start = now();
        for (int frame = 0; frame < kFrames; ++frame) drawGrid(views, frame, tiled);
        glFinish();
        const double seconds = now() - start;
        uploads = 0;  // a picture's count, once
        for (std::size_t i = 0; i < views.size(); ++i)
            uploads += tiled && i > 0 ? 0 : static_cast<double>(views[i].stats().uploads);
        return seconds;
    };
    const Entrant scene{"scene_20_views", [&] {
                            zelvan::TileScene shared;
                            std::vector<zelvan::TileView> views;
                            for (auto& s : sources) views.emplace_back(shared, *s);
                            return run(views, sceneUploads);
                        }};
    const Entrant alone{"one_view", [&] {
                            std::vector<zelvan::TileView> views;
                            views.emplace_back(*sources.front());
                            return run(views, aloneUploads);
                        }};
    const Entrant tiled{"scene_one_picture", [&] {
                            zelvan::TileScene shared;
                            std::vector<zelvan::TileView> views;
                            for (int i = 0; i < kColumns * kRows; ++i)
                                views.emplace_back(shared, *sources.front());
                            return run(views, tiledUploads, true);
                        }};
    compete(state, scene, {alone, tiled});
    state.counters["uploads_scene_one_picture"] = tiledUploads;
    state.counters["uploads_scene"] = sceneUploads;
    state.counters["uploads_one_view"] = aloneUploads;
    if (!ok) state.SkipWithError("a view never became ready");
}

}  // namespace

void registerTilesSceneBenchmarks(const Pace& pace) {
    pace.apply(benchmark::RegisterBenchmark("tiles_scene_idle_views/1000", idleViews), 1.0);
    pace.apply(benchmark::RegisterBenchmark("tiles_scene_pan/20_views_600_frames", pan), 3.0);
    setGoal("tiles_scene_pan/", "one_view", 1.3);
}

}  // namespace zelvan_bench
