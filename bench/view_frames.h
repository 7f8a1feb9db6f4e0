#pragma once
// Drawing a tile view until its frame is complete, for the suites that time how long that takes.
#include <GL/gl.h>

#include <chrono>
#include <thread>

#include "contest.h"
#include "zelvan_tiles.hpp"

namespace zelvan_bench {

// Draws `frame` (waiting a little between draws, as the reads arrive) until one is complete; false
// after 60 seconds, which counts as a failure.
inline bool drawUntilComplete(zelvan::TileView& view, const zelvan::Frame& frame) {
    const double giveUp = now() + 60;
    for (;;) {
        view.draw(frame);
        glFinish();
        if (view.stats().complete) return true;
        if (now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace zelvan_bench
