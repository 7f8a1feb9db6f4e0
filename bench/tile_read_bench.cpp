// The time of one view tile read from a remote picture, as the tile view's workers read it (a 512 x 512
// rectangle into a buffer of their own), with its server tiles' bodies on disk: what is timed is
// decoding them and writing their pixels out, not the network. synthetic_tile_server.py serves the
// picture as IIIF (256-pixel PNG tiles, four taken whole by each read) and as Deep Zoom (254-pixel tiles
// with overlap 1, those across a read's edge shared with its neighbours). Each iteration opens the
// picture afresh, untimed, so that no decoded tile is kept from the one before; a first pass fills the
// disk cache. No baseline: compare builds, runs interleaved. Flags: --quick (one iteration each).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "contest.h"
#include "remote/remote_opening.h"
#include "summary_reporter.h"
#include "tile_server.h"

namespace {

constexpr std::uint32_t kRead = 512, kReads = 4;  // a row of four view tiles at the picture's top left

zelvan::sources::OpenOptions cachedOptions(const std::string& directory) {
    zelvan::sources::OpenOptions options;
    options.cacheDirectory = directory;
    return options;
}

// This thread's processor time in seconds: the reads run on it, and it counts less of the other work a
// shared machine does than the wall clock.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Reads the row of view tiles; the seconds taken, or a negative number on failure, and the processor
// seconds into `cpu`.
double readRow(zelvan::sources::PictureSource& source, std::vector<unsigned char>& pixels, double& cpu) {
    zelvan::TileReadControl control;
    const double start = zelvan_bench::now(), cpuStart = threadSeconds();
    for (std::uint32_t i = 0; i < kReads; ++i)
        if (!source.readTile(0, i * kRead, 0, kRead, kRead, pixels.data(), std::size_t{kRead} * 4, control))
            return -1;
    cpu = threadSeconds() - cpuStart;
    return zelvan_bench::now() - start;
}

void readBench(benchmark::State& state, const std::string& url, const std::string& cache) {
    std::vector<unsigned char> pixels(std::size_t{kRead} * kRead * 4);
    double cpu = 0, cpuTotal = 0;
    for (auto _ : state) {
        std::string error;
        auto source = zelvan::sources::detail::openRemote(url, cachedOptions(cache), error);
        const double seconds = source ? readRow(*source, pixels, cpu) : -1;
        if (seconds < 0) return state.SkipWithError((error.empty() ? source->lastError() : error).c_str());
        state.SetIterationTime(seconds / kReads);
        cpuTotal += cpu;
    }
    state.counters["cpu_ms_per_read"] = 1e3 * cpuTotal / kReads / double(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    bool quick = false;
    for (auto it = args.begin() + 1; it != args.end();)
        if (std::strcmp(*it, "--quick") == 0) {
            quick = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    int count = int(args.size());
    zelvan_bench::TileServer server;
    if (!server.start("0", "1e12")) {
        std::fprintf(stderr, "zelvan_tile_read_bench: the tile server did not start (python3 is needed)\n");
        return 1;
    }
    const std::string root =
        std::filesystem::temp_directory_path() / ("zelvan-tile-read-" + std::to_string(getpid()));
    const char* names[] = {"iiif", "dzi"};
    const char* paths[] = {"/iiif/info.json", "/deep.dzi"};
    for (int i = 0; i < 2; ++i) {
        const std::string cache = root + "/" + names[i], url = server.url(paths[i]);
        std::string error;
        auto source = zelvan::sources::detail::openRemote(url, cachedOptions(cache), error);
        std::vector<unsigned char> pixels(std::size_t{kRead} * kRead * 4);
        double cpu = 0;
        if (!source || readRow(*source, pixels, cpu) < 0) {
            std::fprintf(stderr, "zelvan_tile_read_bench: %s\n",
                         source ? source->lastError().c_str() : error.c_str());
            return 1;
        }
        auto* read =
            benchmark::RegisterBenchmark((std::string("tile_read_") + names[i]).c_str(),
                                         [url, cache](benchmark::State& s) { readBench(s, url, cache); });
        read->UseManualTime()->Unit(benchmark::kMillisecond);
        if (quick) read->Iterations(1);
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    zelvan_bench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(root);
    return reporter.anyError() ? 1 : 0;
}
