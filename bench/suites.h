#pragma once
// The benchmark suites, registered by bench_main.cpp once the OpenGL context exists.
#include <benchmark/benchmark.h>

namespace zelvan_bench {

// quick: one iteration per benchmark, for the smoke run that keeps them building and running.
struct Pace {
    bool quick;
    double tourSeconds = 0;  // the tiles tour's length; 0: 60 s, or 1.5 s when quick
    // Applies the pace to a benchmark: one iteration when quick, else at least minSeconds.
    benchmark::internal::Benchmark* apply(benchmark::internal::Benchmark* bench, double minSeconds) const {
        bench->UseManualTime()->Unit(benchmark::kMillisecond);
        return quick ? bench->Iterations(1) : bench->MinTime(minSeconds);
    }
};

void registerStagingBenchmarks(const Pace& pace);
void registerUploadBenchmarks(const Pace& pace);
void registerDrawBenchmarks(const Pace& pace);
void registerCreateBenchmarks(const Pace& pace);
void registerMachineBenchmarks(const Pace& pace);
void registerPyramidBenchmarks(const Pace& pace);
void registerTilesBenchmarks(const Pace& pace);
void registerTilesSceneBenchmarks(const Pace& pace);
void registerMappingBenchmarks(const Pace& pace);

}  // namespace zelvan_bench
