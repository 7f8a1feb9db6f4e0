#pragma once
// Times the library against baselines on the same data in the same run. Within every benchmark
// iteration each entrant runs once, in alternating order, so all of them see the same cache,
// frequency and allocator conditions; the ratio is then free of run-to-run drift.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvan_bench {

// One contender. run does its own untimed setup and clean-up and returns the seconds of the part
// being measured.
struct Entrant {
    std::string name;
    std::function<double()> run;
};

// The benchmark's reported time is the candidate's. For each baseline it adds the counters
// "x_<name>" (candidate time / baseline time) and "<name>_ms" (baseline time per iteration), and for
// every entrant "<name>_faults", its page faults per iteration (setup and clean-up included).
void compete(benchmark::State& state, const Entrant& candidate, const std::vector<Entrant>& baselines);

// Seconds since an arbitrary start, monotonic.
double now();

// The seconds work takes, waiting for OpenGL to finish what it asked for.
template <typename Work>
double timedGl(Work&& work) {
    const double start = now();
    work();
    glFinish();
    return now() - start;
}

}  // namespace zelvan_bench
