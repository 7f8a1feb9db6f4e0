// Remote pictures (Zelvan::sources' remote room) through zelvan::TileView: the first sharp frame of a
// 100000 x 100000 picture in 1200 x 800, served by synthetic_tile_server.py behind a link with 50 ms
// added round trip and 20 MB/s, as IIIF (256-pixel tiles) and as Deep Zoom (254-pixel tiles, overlap 1):
// - remote_<format>_fitted: from opening the URL to the first complete frame of the picture fitted;
// - remote_<format>_jump: from placing the fitted view at 1:1 in the picture's middle to its first
//   complete frame;
// - remote_<format>_tour: remote_tour.h's 600 frames (no baseline: its counters are the shares of
//   bytes wasted and how long requests ran on after their tiles left the view);
// - remote_<format>_fling: 30 frames of 600 pixels at 1:1, the view following its motion, against the
//   same fling read at the scale's level throughout (TileViewOptions::followMotion false): the shares of
//   bytes of tiles never drawn, and the time at rest until complete (the iteration's time is the
//   following view's); remote_<format>_glide, the same fling coasting to a stop.
// Baseline, "sequential": the server tiles that frame fetched, fetched again one at a time over one
// kept connection (a client that neither overlaps nor multiplexes its requests).
// No disk cache: every run goes over the link; a second visit is the sources' tests' to check. Flags: --quick
// (one iteration each), --round-trip-ms=N,
// --rate=BYTES_PER_SECOND, --per-host=N (OpenOptions::requestsPerHost, 6 by default).
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "contest.h"
#include "gl_context.h"
#include "gl_pixels.h"
#include "remote/network/http_fetcher.h"
#include "remote/remote_opening.h"
#include "remote_tour.h"
#include "summary_reporter.h"
#include "tile_server.h"
#include "zelvan_tiles.hpp"

namespace {

constexpr int kWidth = 1200, kHeight = 800;
constexpr std::uint32_t kSide = 100000;
constexpr double kCompleteWithin = 60;

const zelvan::Frame kFrame{0, 0, kWidth, kHeight, 1};

bool drawUntilComplete(zelvan::TileView& view) {
    if (!view) {
        std::fprintf(stderr, "zelvan_remote_bench: %s\n", zelvan::describe(view.status()));
        return false;
    }
    const double giveUp = zelvan_bench::now() + kCompleteWithin;
    for (;;) {
        view.draw(kFrame);
        glFinish();
        if (view.stats().complete) return true;
        if (zelvan_bench::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

zelvan::Placement oneToOne() {
    zelvan::Placement p;
    p.centreX = kWidth / 2.0;
    p.centreY = kHeight / 2.0;
    return p;
}

unsigned requestsPerHost = 6;

zelvan::sources::OpenOptions noCache() {
    zelvan::sources::OpenOptions options;
    options.cacheRemote = false;
    options.requestsPerHost = requestsPerHost;
    return options;
}

// One format's case: the URL, and the server tiles each timed part fetched (filled by a first run).
struct Case {
    const zelvan_bench::TileServer* server;
    std::string path;
    std::vector<std::string> fittedTiles, jumpTiles;
    bool failed = false;

    // Opens and shows the picture fitted; the seconds that took, or a negative number on failure.
    double fitted(std::unique_ptr<zelvan::sources::PictureSource>& source,
                  std::unique_ptr<zelvan::TileView>& view) {
        glClear(GL_COLOR_BUFFER_BIT);
        glFinish();
        const double start = zelvan_bench::now();
        std::string error;
        source = zelvan::sources::detail::openRemote(server->url(path), noCache(), error);
        if (!source) {
            std::fprintf(stderr, "zelvan_remote_bench: %s\n", error.c_str());
            return -1;
        }
        view = std::make_unique<zelvan::TileView>(*source);
        view->place(zelvan::fit(kSide, kSide, kWidth, kHeight));
        if (!drawUntilComplete(*view)) return -1;
        return zelvan_bench::now() - start;
    }
    double jump(zelvan::TileView& view) {
        const double start = zelvan_bench::now();
        zelvan::Placement p = oneToOne();
        p.centreX -= kSide / 2.0 - kWidth / 2.0;  // the picture's middle under the frame's
        p.centreY -= kSide / 2.0 - kHeight / 2.0;
        view.place(p);
        if (!drawUntilComplete(view)) return -1;
        return zelvan_bench::now() - start;
    }
    // Learns which tiles each part fetches.
    bool learn() {
        std::unique_ptr<zelvan::sources::PictureSource> source;
        std::unique_ptr<zelvan::TileView> view;
        server->clearLog();
        if (fitted(source, view) < 0) return false;
        fittedTiles = server->requested();
        server->clearLog();
        if (jump(*view) < 0) return false;
        jumpTiles = server->requested();
        return true;
    }
};

double sequential(const zelvan_bench::TileServer& server, const std::vector<std::string>& paths) {
    std::string error;
    std::shared_ptr<zelvan::sources::detail::HttpFetcher> fetcher =
        zelvan::sources::detail::HttpFetcher::shared(error);
    const double start = zelvan_bench::now();
    for (const std::string& path : paths) {
        zelvan::sources::detail::HttpRequest request;
        request.url = server.url(path);
        request.perHost = 1;
        if (fetcher->fetch(request).outcome != zelvan::sources::detail::HttpResponse::Outcome::Ok) return -1;
    }
    return zelvan_bench::now() - start;
}

// The fitted frame, or with `jump` the 1:1 frame after it, against the same tiles fetched one at a time.
void frameBench(benchmark::State& state, Case& c, bool jump) {
    const std::vector<std::string>& tiles = jump ? c.jumpTiles : c.fittedTiles;
    const zelvan_bench::Entrant candidate{"zelvan", [&c, jump] {
                                              std::unique_ptr<zelvan::sources::PictureSource> source;
                                              std::unique_ptr<zelvan::TileView> view;
                                              double s = c.fitted(source, view);
                                              if (jump && s >= 0) s = c.jump(*view);
                                              if (s < 0) c.failed = true;
                                              return s < 0 ? 0 : s;
                                          }};
    const zelvan_bench::Entrant baseline{"sequential", [&c, &tiles] {
                                             const double s = sequential(*c.server, tiles);
                                             if (s < 0) c.failed = true;
                                             return s < 0 ? 0 : s;
                                         }};
    zelvan_bench::compete(state, candidate, {baseline});
    state.counters["tiles"] = static_cast<double>(tiles.size());
    if (c.failed) state.SkipWithError("a frame did not complete");
}

// A fling with the view following its motion against one that reads the scale's level throughout: the
// share of bytes of tiles never drawn, and the time from the fling's last frame until one is complete.
void flingBench(benchmark::State& state, const zelvan_bench::TileServer& server, const std::string& path,
                zelvan_bench::Route route) {
    for (auto _ : state) {
        zelvan_bench::TourResult r[2];
        for (const bool follow : {true, false}) {
            r[!follow] = zelvan_bench::tour(server, path, kWidth, kHeight, requestsPerHost, route, follow);
            if (!r[!follow].ok) return state.SkipWithError(r[!follow].error.c_str());
        }
        state.SetIterationTime(r[0].restSeconds);
        const auto wasted = [](const zelvan_bench::TourResult& t) {
            return t.bytes ? 100.0 * static_cast<double>(t.wastedBytes) / static_cast<double>(t.bytes) : 0;
        };
        state.counters["wasted_pct"] = wasted(r[0]);
        state.counters["bytes_MB"] = static_cast<double>(r[0].bytes) / 1e6;
        state.counters["unfollowed_wasted_pct"] = wasted(r[1]);
        state.counters["unfollowed_bytes_MB"] = static_cast<double>(r[1].bytes) / 1e6;
        state.counters["unfollowed_rest_millis"] = r[1].restSeconds * 1000;
        state.counters["left_early"] = static_cast<double>(r[0].requestsLeftEarly);
        state.counters["unfollowed_left_early"] = static_cast<double>(r[1].requestsLeftEarly);
        state.counters["requests"] = static_cast<double>(r[0].requests);
        state.counters["unfollowed_requests"] = static_cast<double>(r[1].requests);
        state.counters["x_unfollowed_rest"] = r[1].restSeconds > 0 ? r[0].restSeconds / r[1].restSeconds : 0;
    }
}

// The tour: its seconds, and what its bytes and requests did.
void tourBench(benchmark::State& state, const zelvan_bench::TileServer& server, const std::string& path) {
    for (auto _ : state) {
        const zelvan_bench::TourResult r = zelvan_bench::tour(server, path, kWidth, kHeight, requestsPerHost);
        if (!r.ok) {
            state.SkipWithError(r.error.c_str());
            return;
        }
        state.SetIterationTime(r.seconds);
        state.counters["rest_millis"] = r.restSeconds * 1000;
        state.counters["bytes_MB"] = static_cast<double>(r.bytes) / 1e6;
        state.counters["wasted_pct"] =
            r.bytes ? 100.0 * static_cast<double>(r.wastedBytes) / static_cast<double>(r.bytes) : 0;
        state.counters["requests"] = static_cast<double>(r.requests);
        state.counters["left_early"] = static_cast<double>(r.requestsLeftEarly);
        state.counters["run_on_longest_millis"] = r.longestRunOnMs;
        state.counters["run_on_100ms"] = static_cast<double>(r.runOnPast100ms);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    bool quick = false;
    std::string roundTrip = "50", rate = "20e6";
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strncmp(argv[i], "--round-trip-ms=", 16) == 0)
            roundTrip = argv[i] + 16;
        else if (std::strncmp(argv[i], "--rate=", 7) == 0)
            rate = argv[i] + 7;
        else if (std::strncmp(argv[i], "--per-host=", 11) == 0)
            requestsPerHost = static_cast<unsigned>(std::atoi(argv[i] + 11));
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    zelvan_support::GlContext context(kWidth, kHeight);
    if (!context.isValid()) {
        std::fprintf(stderr, "zelvan_remote_bench: no OpenGL context: %s\n", context.error().c_str());
        return 1;
    }
    zelvan_support::setUpOrtho(kWidth, kHeight);
    zelvan::Library library;
    zelvan_bench::TileServer server;
    if (!server.start(roundTrip, rate)) {
        std::fprintf(stderr, "zelvan_remote_bench: the tile server did not start (python3 is needed)\n");
        return 1;
    }
    benchmark::AddCustomContext("round_trip_ms", roundTrip);
    benchmark::AddCustomContext("rate_bytes_per_second", rate);
    benchmark::AddCustomContext("requests_per_host", std::to_string(requestsPerHost));
    static Case cases[] = {{&server, "/iiif/info.json", {}, {}, false},
                           {&server, "/deep.dzi", {}, {}, false}};
    const char* names[] = {"iiif", "dzi"};
    for (int i = 0; i < 2; ++i) {
        if (!cases[i].learn()) {
            std::fprintf(stderr, "zelvan_remote_bench: %s: a frame did not complete\n", names[i]);
            return 1;
        }
        Case& c = cases[i];
        auto* fitted = benchmark::RegisterBenchmark((std::string("remote_") + names[i] + "_fitted").c_str(),
                                                    [&c](benchmark::State& s) { frameBench(s, c, false); });
        auto* jump = benchmark::RegisterBenchmark((std::string("remote_") + names[i] + "_jump").c_str(),
                                                  [&c](benchmark::State& s) { frameBench(s, c, true); });
        const std::string path = c.path;
        auto* tour = benchmark::RegisterBenchmark(
            (std::string("remote_") + names[i] + "_tour").c_str(),
            [&server, path](benchmark::State& s) { tourBench(s, server, path); });
        tour->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
        for (const auto route : {zelvan_bench::Route::Fling, zelvan_bench::Route::Glide})
            benchmark::RegisterBenchmark(
                (std::string("remote_") + names[i] +
                 (route == zelvan_bench::Route::Fling ? "_fling" : "_glide"))
                    .c_str(),
                [&server, path, route](benchmark::State& s) { flingBench(s, server, path, route); })
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        for (auto* b : {fitted, jump}) {
            b->UseManualTime()->Unit(benchmark::kMillisecond);
            if (quick)
                b->Iterations(1);
            else
                b->Iterations(5);
        }
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    zelvan_bench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.anyError() ? 1 : 0;
}
