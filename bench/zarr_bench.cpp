// OME-Zarr through zelvan::TileView, on disk, over http and from an object store: a 100000 x 100000,
// 3-channel, 16-bit store (chunks 512 x 512, blosc-zstd; make_zarr_bench_store.py, written once into the
// build directory) shown in 1200 x 800 with its omero mapping:
// - zarr_http_<part>: served as files by lighttpd behind delaying_proxy.py's added round trip, against
//   the same store on disk (baseline "disk");
// - zarr_s3_<part>: the same store in moto_server's private bucket, every request signed and checked,
//   behind the same round trip, against lighttpd (baseline "http"); "refused" counts the store's 403s;
// - zarr_disk_fitted: the store on disk against its level 4 (6250 x 6250) as a pyramidal TIFF on disk
//   (baseline "tiff"), whose fitted frame draws the same level of 781 x 781.
// The parts: "fitted", from opening to the first complete frame of the picture fitted
// (waitUntilComplete); "jump", from placing that view at 1:1 in the picture's middle to its complete frame.
// Every run opens anew without the disk cache: the chunks come over the link each time (the files on disk
// from the page cache). Flags: --quick (one iteration each), --round-trip-ms=N (50 by default),
// --requests-per-host=N (OpenOptions' default by default).
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "contest.h"
#include "gl_context.h"
#include "gl_pixels.h"
#include "summary_reporter.h"
#include "zarr_servers.h"
#include "zelvan_sources.hpp"
#include "zelvan_tiles.hpp"

namespace {

constexpr int kWidth = 1200, kHeight = 800;
const zelvan::Frame kFrame{0, 0, kWidth, kHeight, 1};
constexpr std::chrono::seconds kCompleteWithin{60};

// Where a picture is and how it is opened.
struct Place {
    std::string name, address;
    zelvan::sources::OpenOptions options;
};

// A picture open in a view; the seconds each part took, negative with `error` set when one failed.
struct Showing {
    std::unique_ptr<zelvan::sources::PictureSource> source;
    std::unique_ptr<zelvan::TileView> view;
    std::string error;

    bool complete(const char* part) {
        if (!view->waitUntilComplete(kFrame, kCompleteWithin)) {
            error = std::string(part) + " frame did not complete: " + source->lastError();
            return false;
        }
        glClear(GL_COLOR_BUFFER_BIT);
        view->draw(kFrame);
        glFinish();
        // Fill (a chunk missing, or refused and taken for missing) draws black under the omero windows.
        const zelvan_support::Rgba middle = zelvan_support::readPixel(kWidth / 2, kHeight / 2);
        if (middle.r == 0 && middle.g == 0 && middle.b == 0) {
            error = std::string(part) + " frame shows the fill value in its middle";
            return false;
        }
        return true;
    }
    double fitted(const Place& place) {
        const double start = zelvan_bench::now();
        zelvan::sources::Opened opened = zelvan::sources::open(place.address, place.options);
        if (!opened) {
            error = opened.error;
            return -1;
        }
        source = std::move(opened.source);
        view = std::make_unique<zelvan::TileView>(*source);
        const zelvan::sources::PictureInfo& info = source->info();
        view->place(zelvan::fit(info.width, info.height, kWidth, kHeight));
        return complete("the fitted") ? zelvan_bench::now() - start : -1;
    }
    double jump() {
        const double start = zelvan_bench::now();
        zelvan::Placement p;  // 1:1, the picture's centre on the frame's
        p.centreX = kWidth / 2.0;
        p.centreY = kHeight / 2.0;
        view->place(p);
        return complete("the 1:1") ? zelvan_bench::now() - start : -1;
    }
};

// What does not depend on the machine's load, summed over an entrant's runs: the requests and body
// bytes its picture made, and the process's processor time over the part timed (decoding, assembling,
// drawing; the servers run in processes of their own).
struct Tally {
    double requests = 0, bytes = 0, cpuSeconds = 0;
};

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// An entrant showing `place` and timing the fitted frame, or with `jump` the 1:1 frame after it.
zelvan_bench::Entrant entrant(const std::string& name, const Place& place, bool jump, std::string& failure,
                              Tally& tally) {
    return {name, [&place, jump, &failure, &tally] {
                Showing showing;
                double cpu = processSeconds();
                double seconds = showing.fitted(place);
                zelvan::sources::TransferStats before;
                if (jump && seconds >= 0) {
                    before = showing.source->transfers();
                    cpu = processSeconds();
                    seconds = showing.jump();
                }
                tally.cpuSeconds += processSeconds() - cpu;
                if (showing.source) {
                    const zelvan::sources::TransferStats after = showing.source->transfers();
                    tally.requests += double(after.requests - before.requests);
                    tally.bytes += double(after.bytesFetched - before.bytesFetched);
                }
                if (seconds < 0 && failure.empty()) failure = place.name + ": " + showing.error;
                return seconds < 0 ? 0 : seconds;
            }};
}

void frameBench(benchmark::State& state, const Place& candidate, const Place& baseline, bool jump,
                const zelvan_bench::ZarrServers* servers) {
    std::string failure;
    if (servers) servers->clearLogs();
    Tally tallies[2];
    zelvan_bench::compete(state, entrant(candidate.name, candidate, jump, failure, tallies[0]),
                          {entrant(baseline.name, baseline, jump, failure, tallies[1])});
    const double runs = static_cast<double>(state.iterations());
    for (int i = 0; i < 2; ++i) {
        const std::string who = i == 0 ? candidate.name : baseline.name;
        state.counters[who + "_cpu_ms_per_iter"] = tallies[i].cpuSeconds * 1000 / runs;
        if (tallies[i].requests > 0) {
            state.counters[who + "_requests"] = tallies[i].requests / runs;
            state.counters[who + "_kB"] = tallies[i].bytes / 1000 / runs;
        }
    }
    if (servers) {
        state.counters["refused"] = static_cast<double>(servers->s3Answers(403));
        state.counters["missing_per_iter"] =
            static_cast<double>(servers->s3Answers(404)) / static_cast<double>(state.iterations());
        state.counters["requests_per_iter"] =
            static_cast<double>(servers->s3Answers(200) + servers->s3Answers(206)) /
            static_cast<double>(state.iterations());
        if (servers->s3Answers(403) > 0 && failure.empty()) failure = "the store refused requests";
    }
    if (!failure.empty()) state.SkipWithError(failure.c_str());
}

zelvan::sources::OpenOptions uncached() {
    zelvan::sources::OpenOptions options;
    options.cacheRemote = false;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    bool quick = false;
    std::string roundTrip = "50";
    unsigned requestsPerHost = zelvan::sources::OpenOptions().requestsPerHost;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strncmp(argv[i], "--round-trip-ms=", 16) == 0)
            roundTrip = argv[i] + 16;
        else if (std::strncmp(argv[i], "--requests-per-host=", 20) == 0)
            requestsPerHost = unsigned(std::atoi(argv[i] + 20));
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    const std::string store = ZELVAN_ZARR_BENCH_STORE;
    const std::string write = std::string("/usr/bin/python3 ") + ZELVAN_MAKE_ZARR_BENCH_STORE + " " + store;
    if (std::system(write.c_str()) != 0) {
        std::fprintf(stderr,
                     "zelvan_zarr_bench: the store was not written (needs zarr, numcodecs, numpy, vips)\n");
        return 1;
    }
    zelvan_support::GlContext context(kWidth, kHeight);
    if (!context.isValid()) {
        std::fprintf(stderr, "zelvan_zarr_bench: no OpenGL context: %s\n", context.error().c_str());
        return 1;
    }
    zelvan_support::setUpOrtho(kWidth, kHeight);
    zelvan::Library library;
    static zelvan_bench::ZarrServers servers;
    std::string error;
    if (!servers.start(store, "bench.zarr", roundTrip, error)) {
        std::fprintf(stderr, "zelvan_zarr_bench: %s\n", error.c_str());
        return 1;
    }
    benchmark::AddCustomContext("round_trip_ms", roundTrip);
    benchmark::AddCustomContext("requests_per_host", std::to_string(requestsPerHost));
    static Place disk{"disk", store + "/bench.zarr", {}}, tiff{"tiff", store + "/picture.tif", {}},
        http{"http", servers.httpUrl("bench.zarr"), uncached()},
        s3{"s3", "s3://bench/bench.zarr", uncached()};
    tiff.options.rawSamples = true;  // 16-bit samples through the display mapping, as the store's are
    http.options.requestsPerHost = s3.options.requestsPerHost = requestsPerHost;
    s3.options.objectStorage.endpoint = servers.s3Endpoint();
    s3.options.objectStorage.region = "us-east-1";
    s3.options.objectStorage.accessKeyId = servers.keyId();
    s3.options.objectStorage.secretAccessKey = servers.secret();
    struct {
        const char* name;
        const Place *candidate, *baseline;
        bool jump;
        const zelvan_bench::ZarrServers* servers;
    } const cases[] = {{"zarr_disk_fitted", &disk, &tiff, false, nullptr},
                       {"zarr_http_fitted", &http, &disk, false, nullptr},
                       {"zarr_http_jump", &http, &disk, true, nullptr},
                       {"zarr_s3_fitted", &s3, &http, false, &servers},
                       {"zarr_s3_jump", &s3, &http, true, &servers}};
    for (const auto& c : cases) {
        benchmark::RegisterBenchmark(
            c.name, [c](benchmark::State& s) { frameBench(s, *c.candidate, *c.baseline, c.jump, c.servers); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(quick ? 1 : 5);
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    zelvan_bench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.anyError() ? 1 : 0;
}
