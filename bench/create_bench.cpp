// ZelvanCreate of huge images: the time and the heap bytes the block list takes per block.
#include <malloc.h>

#include <cstdint>
#include <string>

#include "contest.h"
#include "suites.h"
#include "zelvan.h"

namespace zelvan_bench {

namespace {

// Heap bytes in use, mmap'ed chunks included (the block list of a huge image is one).
double heapBytes() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
#else
    return 0;
#endif
}

void create(benchmark::State& state, std::uint32_t side) {
    double seconds = 0, bytes = 0;
    bool ok = true;
    for (auto _ : state) {
        ZelvanInit();
        const double heapBefore = heapBytes();
        const double start = now();
        const ZelvanHandle handle = ZelvanCreate(side, side);
        const double elapsed = now() - start;
        bytes += heapBytes() - heapBefore;
        ok = ok && handle != 0;
        seconds += elapsed;
        state.SetIterationTime(elapsed);
        ZelvanShutdown();
    }
    if (!ok) state.SkipWithError("ZelvanCreate failed");
    const std::uint64_t perSide = (std::uint64_t{side} + 511) / 512;
    const double blocks = static_cast<double>(perSide * perSide);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["blocks"] = blocks;
    state.counters["ns_per_block"] = seconds * 1e9 / iterations / blocks;
    state.counters["bytes_per_block"] = bytes / iterations / blocks;
}

}  // namespace

void registerCreateBenchmarks(const Pace& pace) {
    for (std::uint32_t side : {100000u, 1000000u})
        pace.apply(benchmark::RegisterBenchmark(("create/" + std::to_string(side)).c_str(), create, side),
                   1.0);
}

}  // namespace zelvan_bench
