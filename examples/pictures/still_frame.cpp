#include "still_frame.h"

#include <thread>

namespace zelvan_demo {

namespace {

// The longest wait for a read to end between two draws: the workers hold only a few tiles read, and
// take no more until a draw has uploaded them.
constexpr std::chrono::milliseconds kReadWait{25};

}  // namespace

bool waitForStillFrame(zelvan::TileView& view, const zelvan::Frame& frame,
                       std::chrono::milliseconds timeout) {
    // becomes view.waitUntilComplete(frame, timeout)
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::uint64_t failedBefore = view.stats().readsFailed;
    for (;;) {
        view.draw(frame);  // uploads what was read, then asks for what the frame still lacks
        const zelvan::TileStats drawn = view.stats();
        if (drawn.readsFailed > failedBefore) return false;
        if (drawn.complete && drawn.readsPending == 0) return true;
        // The view tells no one when a read ends: look again each millisecond, drawing once one has.
        const Clock::time_point until = std::min(deadline, Clock::now() + kReadWait);
        do {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (drawn.readsPending > 0 && view.stats().readsPending >= drawn.readsPending &&
                 Clock::now() < until);
    }
}

}  // namespace zelvan_demo
