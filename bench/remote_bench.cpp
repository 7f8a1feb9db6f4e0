// Remote pictures (Zelvan::sources' remote room) through zelvan::TileView: the first sharp frame of a
// 100000 x 100000 picture in 1200 x 800, served by synthetic_tile_server.py behind a link with 50 ms
// added round trip and 20 MB/s, as IIIF (256-pixel tiles) and as Deep Zoom (254-pixel tiles, overlap 1):
// - remote_<format>_fitted: from opening the URL to the first complete frame of the picture fitted;
// - remote_<format>_jump: from placing the fitted view at 1:1 in the picture's middle to its first
//   complete frame.
// Baseline, "sequential": the server tiles that frame fetched, fetched again one at a time over one
// kept connection (a client that neither overlaps nor multiplexes its requests).
// No disk cache: every run goes over the link. Flags: --quick (one iteration each), --round-trip-ms=N,
// --rate=BYTES_PER_SECOND, --per-host=N (OpenOptions::requestsPerHost, 6 by default).
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "contest.h"
#include "gl_context.h"
#include "gl_pixels.h"
#include "remote/http_fetcher.h"
#include "remote/remote_opening.h"
#include "summary_reporter.h"
#include "zelvan_tiles.hpp"

namespace {

constexpr int kWidth = 1200, kHeight = 800;
constexpr std::uint32_t kSide = 100000;
constexpr double kCompleteWithin = 60;

struct Server {
    pid_t pid = -1;
    int port = 0;
    std::string log;
    ~Server() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    bool start(const std::string& roundTripMs, const std::string& rate) {
        char scratch[] = "/tmp/zelvan-remote-bench-XXXXXX";
        const int fd = ::mkstemp(scratch);
        if (fd < 0) return false;
        ::close(fd);
        log = scratch;
        int ends[2];
        if (::pipe(ends) != 0) return false;
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(ends[1], 1);
            ::close(ends[0]);
            ::execlp("python3", "python3", ZELVAN_SYNTHETIC_TILE_SERVER, "--round-trip-ms",
                     roundTripMs.c_str(), "--rate", rate.c_str(), "--log", log.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ends[1]);
        std::string line;
        char c = 0;
        while (::read(ends[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(ends[0]);
        port = std::atoi(line.c_str());
        return port > 0;
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    void clearLog() const { std::ofstream(log, std::ios::trunc).flush(); }
    std::vector<std::string> requested() const {
        std::vector<std::string> paths;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) paths.push_back(line);
        return paths;
    }
};

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
    const Server* server;
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

double sequential(const Server& server, const std::vector<std::string>& paths) {
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
    Server server;
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
    std::remove(server.log.c_str());
    return reporter.anyError() ? 1 : 0;
}
