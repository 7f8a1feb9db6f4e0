#pragma once
// Waiting for a still frame: a program that shows one finished frame (zelvan-render, the viewer's
// screenshots) waits for every tile of it before drawing it for good.
#include <chrono>

#include "zelvan_tiles.hpp"

namespace zelvan_demo {

// Draws `frame` through `view` as often as it takes for every tile it wants to be resident, at most
// `timeout`, so that the next view.draw(frame) is complete; true then. False at the timeout, or as
// soon as a read fails (view.stats().readsFailed says so). OpenGL: the context current, the frame's
// matrices set; the frame's pixels are left as the last draw left them.
bool waitForStillFrame(zelvan::TileView& view, const zelvan::Frame& frame, std::chrono::milliseconds timeout);

}  // namespace zelvan_demo
