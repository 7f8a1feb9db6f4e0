#pragma once
// Console output as usual, then one table of every ratio against its goal.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace zelvan_bench {

// Declares the goal for the ratio "x_<baseline>" of the benchmarks whose name starts with prefix.
void setGoal(const std::string& prefix, const std::string& baseline, double maxRatio);

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;
    // True when a benchmark stopped with an error (a failed upload, for instance).
    bool anyError() const { return anyError_; }

private:
    std::vector<Run> runs_;
    bool anyError_ = false;
};

}  // namespace zelvan_bench
