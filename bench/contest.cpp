#include "contest.h"

#include <sys/resource.h>

#include <chrono>
#include <cstddef>

namespace zelvan_bench {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

namespace {

// Page faults so far: on this kind of machine a fault costs microseconds, so fresh memory shows
// up in every upload figure.
double faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_minflt + usage.ru_majflt);
}

// Runs the entrant once, adding its page faults to faultTotal.
double runCounted(const Entrant& entrant, double& faultTotal) {
    const double before = faults();
    const double seconds = entrant.run();
    faultTotal += faults() - before;
    return seconds;
}

}  // namespace

void compete(benchmark::State& state, const Entrant& candidate, const std::vector<Entrant>& baselines) {
    double candidateTotal = 0, candidateFaults = 0;
    std::vector<double> baselineTotals(baselines.size(), 0.0), baselineFaults(baselines.size(), 0.0);
    bool candidateFirst = true;
    for (auto _ : state) {
        double seconds = 0;
        if (candidateFirst) seconds = runCounted(candidate, candidateFaults);
        for (std::size_t i = 0; i < baselines.size(); ++i)
            baselineTotals[i] += runCounted(baselines[i], baselineFaults[i]);
        if (!candidateFirst) seconds = runCounted(candidate, candidateFaults);
        candidateFirst = !candidateFirst;
        candidateTotal += seconds;
        state.SetIterationTime(seconds);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters[candidate.name + "_faults"] = candidateFaults / iterations;
    for (std::size_t i = 0; i < baselines.size(); ++i) {
        const double ratio = baselineTotals[i] > 0 ? candidateTotal / baselineTotals[i] : 0.0;
        state.counters["x_" + baselines[i].name] = ratio;
        state.counters[baselines[i].name + "_ms"] = baselineTotals[i] * 1e3 / iterations;
        state.counters[baselines[i].name + "_faults"] = baselineFaults[i] / iterations;
    }
}

}  // namespace zelvan_bench
