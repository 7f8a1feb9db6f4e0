// The tile view's planning without OpenGL: the tiles a frame needs, against a separating-axis test of
// every tile's turned quad, for many placements and levels with partial tiles.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "zelvan_tiles_plan.hpp"

namespace {

using zelvan::Frame;
using zelvan::Placement;
using zelvan::TileSize;
using namespace zelvan::detail;

std::vector<TileSize> halvingLevels(std::uint32_t width, std::uint32_t height) {
    std::vector<TileSize> levels{{width, height}};
    while (width > 1 || height > 1) {
        width = width / 2 + width % 2;
        height = height / 2 + height % 2;
        levels.push_back({width, height});
    }
    return levels;
}

// Every tile of the level whose quad (as the picture map places it) meets the frame.
std::set<std::tuple<std::uint32_t, std::uint32_t>> bruteForce(const Placement& p,
                                                              const std::vector<TileSize>& levels,
                                                              std::uint32_t level, const Frame& f) {
    const PictureMap m = PictureMap::of(p, levels[0]);
    const double rx = ratio(levels[0].width, levels[level].width),
                 ry = ratio(levels[0].height, levels[level].height);
    std::set<std::tuple<std::uint32_t, std::uint32_t>> hits;
    for (std::uint32_t row = 0; row < tilesAcross(levels[level].height); ++row)
        for (std::uint32_t col = 0; col < tilesAcross(levels[level].width); ++col) {
            const PixelRect r = tileRect(levels[level], col, row);
            const double u[4] = {r.x * rx, (r.x + r.width) * rx, (r.x + r.width) * rx, r.x * rx};
            const double v[4] = {r.y * ry, r.y * ry, (r.y + r.height) * ry, (r.y + r.height) * ry};
            double x[4], y[4];
            for (int i = 0; i < 4; ++i) x[i] = m.x(u[i], v[i]), y[i] = m.y(u[i], v[i]);
            if (quadMeetsFrame(x, y, f)) hits.insert({col, row});
        }
    return hits;
}

TEST(TilesPlan, VisibleTilesAreExactlyThoseWhoseTurnedQuadsMeetTheFrame) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const auto levels = halvingLevels(9001, 5003);  // partial tiles at the right and bottom of every level
    for (int trial = 0; trial < 300; ++trial) {
        Placement p;
        p.scaleX = p.scaleY = 0.05 + 3 * unit(random) * unit(random);
        p.rotateZ = trial % 3 == 0 ? 45 : 360 * unit(random);
        p.centreX = 800 * unit(random) - 150;
        p.centreY = 800 * unit(random) - 150;
        const Frame f{0, 0, 512, 384, 1};
        const auto level = static_cast<std::uint32_t>(trial % 4);
        std::vector<TileIndex> got;
        ASSERT_TRUE(visibleTiles(p, LevelGrid(levels), level, f, 100000, got));
        std::set<std::tuple<std::uint32_t, std::uint32_t>> gotSet;
        for (const TileIndex& t : got) EXPECT_TRUE(gotSet.insert({t.column, t.row}).second) << "a tile twice";
        EXPECT_EQ(gotSet, bruteForce(p, levels, level, f)) << "trial " << trial;
    }
}

TEST(TilesPlan, VisibleTilesStopAtTheLimit) {
    const auto levels = halvingLevels(1000000, 1000000);
    Placement p;
    p.scaleX = p.scaleY = 0.0005;
    std::vector<TileIndex> got;
    EXPECT_FALSE(visibleTiles(p, LevelGrid(levels), 0, Frame{-256, -256, 256, 256, 1}, 1000, got));
    EXPECT_LE(got.size(), 1000u);
}

}  // namespace
