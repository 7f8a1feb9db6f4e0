#include "contest.h"

#include <chrono>
#include <cstddef>

namespace zelvan_bench {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void compete(benchmark::State& state, const Entrant& candidate, const std::vector<Entrant>& baselines) {
    double candidateTotal = 0;
    std::vector<double> baselineTotals(baselines.size(), 0.0);
    bool candidateFirst = true;
    for (auto _ : state) {
        double seconds = 0;
        if (candidateFirst) seconds = candidate.run();
        for (std::size_t i = 0; i < baselines.size(); ++i) baselineTotals[i] += baselines[i].run();
        if (!candidateFirst) seconds = candidate.run();
        candidateFirst = !candidateFirst;
        candidateTotal += seconds;
        state.SetIterationTime(seconds);
    }
    const double iterations = static_cast<double>(state.iterations());
    for (std::size_t i = 0; i < baselines.size(); ++i) {
        const double ratio = baselineTotals[i] > 0 ? candidateTotal / baselineTotals[i] : 0.0;
        state.counters["x_" + baselines[i].name] = ratio;
        state.counters[baselines[i].name + "_ms"] = baselineTotals[i] * 1e3 / iterations;
    }
}

}  // namespace zelvan_bench
