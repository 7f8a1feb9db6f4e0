#pragma once
// A 600-frame tour of a remote picture, as a user pans, zooms, flings and turns it at 60 frames a
// second, then rests until the last frame is complete; or a fling alone, far faster than tiles come. From the
// server's log and the tiles each frame wanted it tells:
// - the share of the bytes sent that belong to tiles never drawn (a tile counts as drawn when a frame
//   drew after it arrived and still wanted it, or a finer tile it stands in for, still coming);
// - how long requests ran on after every tile they served had left the wanted set (the longest, and
//   how many ran on for more than 100 ms).
#include <cstdint>
#include <string>

#include "tile_server.h"
#include "zelvan_tiles.hpp"

namespace zelvan_bench {

struct TourResult {
    bool ok = false;
    std::string error;
    double seconds = 0;      // the tour and the rest after it
    double restSeconds = 0;  // the rest: from the last frame of the tour until one is complete
    std::uint64_t bytes = 0, wastedBytes = 0;
    std::uint64_t requests = 0, requestsLeftEarly = 0;  // left early: the client closed first
    double longestRunOnMs = 0;                          // after every tile it served had left the wanted set
    std::uint64_t runOnPast100ms = 0;
};

// The route: the 600-frame tour, or a fling (at 1:1 in the picture's middle, drawn until complete, then
// 30 frames of 600 pixels each to the left, then the rest); gliding, the fling then slows by a sixth a
// frame (about 37 frames, 3000 pixels) before the rest, as a flung view coasts to a stop.
enum class Route { Tour, Fling, Glide };

// `path`: the picture's URL on the server (an IIIF info.json or a .dzi of synthetic_tile_server.py);
// the frame is width x height, drawn in the current context; `followMotion` as TileViewOptions has it.
TourResult tour(const TileServer& server, const std::string& path, int width, int height,
                unsigned requestsPerHost, Route route = Route::Tour, bool followMotion = true);

}  // namespace zelvan_bench
