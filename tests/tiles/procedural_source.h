#pragma once
// The procedural tile source for the tile view's tests: the one the benchmarks and fuzzers share, from
// support/ (zelvan_support::ProceduralTiles), under the tests' namespace.
#include "../../support/procedural_tiles.h"

namespace zelvan_test {
using zelvan_support::ProceduralTiles;
using zelvan_support::ProceduralTilesOptions;
using zelvan_support::TileFailures;
using zelvan_support::TilePattern;
using zelvan_support::TileRead;
using zelvan_support::TileRect;
}  // namespace zelvan_test
