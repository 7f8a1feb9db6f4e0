// The machine's own costs that every upload figure rests on: writing fresh memory (each 4 KiB page
// faulted in by the kernel) against writing the same amount of memory already mapped. OpenGL
// drivers fill a new texture's storage on creation, so this sets the floor of a first load.
#include <sys/mman.h>

#include <cstring>

#include "contest.h"
#include "suites.h"

namespace zelvan_bench {

namespace {

constexpr std::size_t kBytes = std::size_t{64} << 20;
constexpr std::size_t kPage = 4096;

void freshVersusMapped(benchmark::State& state) {
    void* mapped = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        state.SkipWithError("mmap failed");
        return;
    }
    std::memset(mapped, 1, kBytes);
    double freshSeconds = 0;
    const Entrant fresh{"fresh", [&] {
                            void* memory = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE,
                                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                            if (memory == MAP_FAILED) return 0.0;
                            const double start = now();
                            std::memset(memory, 0, kBytes);
                            benchmark::ClobberMemory();
                            const double seconds = now() - start;
                            freshSeconds += seconds;
                            munmap(memory, kBytes);
                            return seconds;
                        }};
    const Entrant alreadyMapped{"mapped", [&] {
                                    const double start = now();
                                    std::memset(mapped, 0, kBytes);
                                    benchmark::ClobberMemory();
                                    return now() - start;
                                }};
    compete(state, fresh, {alreadyMapped});
    munmap(mapped, kBytes);
    const double faults = static_cast<double>(state.iterations()) * (kBytes / kPage);
    state.counters["us_per_4k_page"] = faults > 0 ? freshSeconds * 1e6 / faults : 0.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

}  // namespace

void registerMachineBenchmarks(const Pace& pace) {
    pace.apply(benchmark::RegisterBenchmark("machine/fresh_memory_64MiB", freshVersusMapped), 1.0);
}

}  // namespace zelvan_bench
