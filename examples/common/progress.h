#pragma once
// A progress line on stderr ("decoding photo.png: 1536 of 4000 rows"), redrawn in place, shown only
// when stderr is a terminal so logs and pipes get nothing but real messages.
#include <cstdint>
#include <functional>
#include <string>

namespace zelvan_demo {

// Called with the units done so far and the units in all.
using ProgressFn = std::function<void(std::uint64_t done, std::uint64_t total)>;

class ProgressLine {
public:
    // `what` leads the line, `unit` follows the numbers (e.g. "rows", "blocks"); with "%" the line
    // shows the percentage alone.
    ProgressLine(std::string what, std::string unit);
    ~ProgressLine();  // ends the line if one was drawn
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(std::uint64_t done, std::uint64_t total);
    ProgressFn callback() {
        return [this](std::uint64_t done, std::uint64_t total) { update(done, total); };
    }

private:
    std::string what_, unit_;
    bool enabled_;
    bool drawn_ = false;
    int lastPercent_ = -1;
};

}  // namespace zelvan_demo
