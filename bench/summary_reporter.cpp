#include "summary_reporter.h"

#include <cstdio>
#include <map>
#include <utility>

namespace zelvan_bench {

namespace {

struct Goal {
    std::string prefix, baseline;
    double maxRatio;
};

std::vector<Goal>& goals() {
    static std::vector<Goal> all;
    return all;
}

const Goal* goalFor(const std::string& name, const std::string& baseline) {
    for (const Goal& goal : goals())
        if (name.compare(0, goal.prefix.size(), goal.prefix) == 0 && goal.baseline == baseline) return &goal;
    return nullptr;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A figure with three significant digits and no exponent.
std::string figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : "%.3g", value);
    return text;
}

std::string notes(const benchmark::BenchmarkReporter::Run& run) {
    std::string text;
    for (const auto& [key, counter] : run.counters) {
        if (key.rfind("x_", 0) == 0 || endsWith(key, "_ms") || key == "bytes_per_second") continue;
        if (!text.empty()) text += ", ";
        text += key + " " + figure(counter.value);
    }
    return text;
}

}  // namespace

void setGoal(const std::string& prefix, const std::string& baseline, double maxRatio) {
    goals().push_back(Goal{prefix, baseline, maxRatio});
}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        anyError_ = anyError_ || run.error_occurred;
        if (run.run_type == Run::RT_Iteration && !run.error_occurred) runs_.push_back(run);
    }
}

void SummaryReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::printf("\n| benchmark | candidate ms | baseline | baseline ms | ratio | goal | other figures |\n");
    std::printf("|---|---:|---|---:|---:|---|---|\n");
    for (const Run& run : runs_) {
        const std::string name = run.run_name.function_name;
        const double ms = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
        bool anyBaseline = false;
        for (const auto& [key, counter] : run.counters) {
            if (key.rfind("x_", 0) != 0) continue;
            anyBaseline = true;
            const std::string baseline = key.substr(2);
            const auto baselineMs = run.counters.find(baseline + "_ms");
            const Goal* goal = goalFor(name, baseline);
            std::string goalText = "-";
            if (goal != nullptr)
                goalText =
                    "<= " + figure(goal->maxRatio) + (counter.value <= goal->maxRatio ? " met" : " MISSED");
            std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", name.c_str(), figure(ms).c_str(),
                        baseline.c_str(),
                        baselineMs == run.counters.end() ? "-" : figure(baselineMs->second.value).c_str(),
                        figure(counter.value).c_str(), goalText.c_str(), notes(run).c_str());
        }
        if (!anyBaseline)
            std::printf("| %s | %s | - | - | - | - | %s |\n", name.c_str(), figure(ms).c_str(),
                        notes(run).c_str());
    }
    std::fflush(stdout);
}

}  // namespace zelvan_bench
