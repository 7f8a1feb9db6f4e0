#include "still_frame.h"

#include <algorithm>
#include <cstdint>
#include <thread>

namespace zelvan_demo {

bool waitForStillFrame(zelvan::TileView& view, const zelvan::Frame& frame,
                       std::chrono::milliseconds timeout) {
    // becomes view.waitUntilComplete(frame, timeout)
    // Meanwhile, through what the view offers now: the frame drawn (each draw uploads what was read and
    // asks for what the frame still lacks) until one lacks nothing. The view tells no one when a read
    // ends, so its count is looked at each millisecond, at most 25 between draws: the workers hold only
    // a few tiles read, and take no more until a draw has uploaded them.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::uint64_t failedBefore = view.stats().readsFailed;
    for (;;) {
        view.draw(frame);
        const zelvan::TileStats drawn = view.stats();
        if (drawn.readsFailed > failedBefore) return false;
        if (drawn.complete && drawn.readsPending == 0) return true;
        const Clock::time_point nextDraw = std::min(deadline, Clock::now() + std::chrono::milliseconds(25));
        do {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (drawn.readsPending > 0 && view.stats().readsPending >= drawn.readsPending &&
                 Clock::now() < nextDraw);
    }
}

}  // namespace zelvan_demo
