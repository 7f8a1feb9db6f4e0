#pragma once
// Driving a tile view over a remote picture in the tests, frame by frame, as an app's drawing loop does.
#include <chrono>
#include <functional>

#include "zelvan_tiles.hpp"

namespace remote_test {

// The picture at `scale`, (x, y) of it in the middle of the surface.
zelvan::Placement at(double scale, double x, double y);

// Draws frames for `time`, or until `done` says so (then true).
bool drawFor(zelvan::TileView& view, std::chrono::milliseconds time, const std::function<bool()>& done = {});

}  // namespace remote_test
