#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace zelvan_demo {

ProgressLine::ProgressLine(std::string what, std::string unit)
    : what_(std::move(what)), unit_(std::move(unit)), enabled_(isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    if (drawn_) std::fputc('\n', stderr);
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
    if (!enabled_ || total == 0) return;
    // Redraw only when the percentage moves: a terminal is slow next to a decoder.
    const int percent = int(done * 100 / total);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    if (unit_ == "%")
        std::fprintf(stderr, "\r%s: %d%%", what_.c_str(), percent);
    else
        std::fprintf(stderr, "\r%s: %llu of %llu %s", what_.c_str(), static_cast<unsigned long long>(done),
                     static_cast<unsigned long long>(total), unit_.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace zelvan_demo
