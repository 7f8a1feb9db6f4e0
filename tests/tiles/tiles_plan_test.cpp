// The tile view's planning without OpenGL: the tiles a frame needs, against a separating-axis test of
// every tile's turned quad, for many placements and levels with partial tiles; where each level's
// texels lie, the parts a tile is held in, their bytes and placements, and the levels a budget allows,
// each against an oracle of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// Rounded down, a level's last texels reach past size * 2^k level-0 pixels, to the picture's edge: a frame
// that sees only that far part of them still wants their tile.
TEST(TilesPlan, FrameOverOnlyTheFarPartOfAStretchedLastTexelWantsItsTile) {
    const LevelGrid grid({{2999, 2001}, {1499, 1000}});
    const Placement p;  // level-0 pixel (u, v) at (u - 1499.5, 1000.5 - v)
    for (const Frame& f : {Frame{1498.7, 500, 1500, 501, 1}, Frame{0, -1000.5, 1, -999.7, 1}}) {
        std::vector<TileIndex> got;  // u from 2998.2; v from 2000.2
        ASSERT_TRUE(visibleTiles(p, grid, 1, f, 100, got));
        EXPECT_EQ(got.size(), 1u) << "the picture shows in frame " << f.left << ", " << f.bottom;
    }
}

// Where texel boundary x of level k lies on level 0, as the view promises: at x * 2^k when the level is
// a halving of level 0 rounded up or down (its last boundary at the picture's edge), else evenly.
double boundary(std::uint32_t full, std::uint32_t size, std::size_t k, std::uint64_t x) {
    const std::uint64_t f = std::uint64_t{1} << k;
    if (size != (full + f - 1) / f && size != full / f) return static_cast<double>(x) * full / size;
    return x >= size ? full : static_cast<double>(x * f);
}

// The parts along one axis of a tile: its halves, and the level's last texel alone when it is not as
// wide as the others. Pairs of start and length.
std::vector<std::pair<std::uint32_t, std::uint32_t>> spans(std::uint32_t start, std::uint32_t full,
                                                           std::uint32_t size, std::size_t k) {
    const std::uint32_t length = std::min(512u, size - start);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out{{start, std::min(length, 256u)}};
    if (length > 256) out.push_back({start + 256, length - 256});
    const auto width = [&](std::uint64_t x) {
        return boundary(full, size, k, x + 1) - boundary(full, size, k, x);
    };
    if (start + length == size && out.back().second > 1 && std::fabs(width(size - 1) - width(0)) > 1e-6) {
        --out.back().second;
        out.push_back({size - 1, 1});
    }
    return out;
}

std::uint64_t pow2(std::uint64_t v) { return v <= 1 ? 1 : 2 * pow2((v + 1) / 2); }

// Levels rounded up and rounded down (to 2 or 3 texels a side among them), and one of no halving size.
TEST(TilesPlan, LevelTexelsPartsAndBytesMatchTheirOracles) {
    std::vector<std::vector<TileSize>> sets{{{3000, 2000}, {1500, 1000}, {700, 333}, {350, 100}}};
    for (const TileSize full : {TileSize{2999, 2001}, TileSize{2500, 2100}, TileSize{1537, 1}}) {
        sets.push_back({full});
        sets.push_back({full});
        for (std::uint32_t f = 2; full.width / f > 0 || full.height / f > 0; f *= 2) {
            sets[sets.size() - 2].push_back({(full.width + f - 1) / f, (full.height + f - 1) / f});
            sets.back().push_back({std::max(full.width / f, 1u), std::max(full.height / f, 1u)});
        }
    }
    for (const auto& levels : sets) {
        const LevelGrid grid(levels);
        const TileSize full = levels[0];
        for (std::uint32_t k = 0; k < levels.size(); ++k) {
            const TileSize s = levels[k];
            SCOPED_TRACE(testing::Message() << s.width << " x " << s.height << ", level " << k << " of "
                                            << full.width << " x " << full.height);
            for (std::uint64_t x = 0; x <= s.width; ++x)
                ASSERT_NEAR(grid.across(k).at(x), boundary(full.width, s.width, k, x), 1e-9)
                    << "column " << x;
            for (std::uint64_t y = 0; y <= s.height; ++y)
                ASSERT_NEAR(grid.down(k).at(y), boundary(full.height, s.height, k, y), 1e-9) << "row " << y;
            std::uint64_t levelSum = 0;
            for (std::uint32_t row = 0; row * 512 < s.height; ++row)
                for (std::uint32_t col = 0; col * 512 < s.width; ++col) {
                    const auto xs = spans(col * 512, full.width, s.width, k);
                    const auto ys = spans(row * 512, full.height, s.height, k);
                    const TileParts parts = tileParts(grid, {k, col, row});
                    ASSERT_EQ(parts.count, static_cast<int>(xs.size() * ys.size())) << col << ", " << row;
                    std::uint64_t bytes = 0;
                    for (std::size_t i = 0; i < xs.size() * ys.size(); ++i) {
                        const auto& x = xs[i % xs.size()];
                        const auto& y = ys[i / xs.size()];
                        const PixelRect& got = parts.rect[i];
                        EXPECT_EQ(std::make_tuple(got.x, got.y, got.width, got.height),
                                  std::make_tuple(x.first, y.first, x.second, y.second));
                        bytes += pow2(x.second) * pow2(y.second) * 4;
                    }
                    EXPECT_EQ(tileBytes(grid, {k, col, row}), bytes) << col << ", " << row;
                    levelSum += bytes;
                }
            EXPECT_EQ(levelBytes(grid, k), levelSum);
        }
    }
}

TEST(TilesPlan, PartsOfTurnedPicturesLandWhereThePictureMapPutsTheirAreas) {
    const std::vector<TileSize> levels{{2999, 2001}, {1500, 1001}, {750, 501}, {375, 251}};
    const LevelGrid grid(levels);
    for (const double degrees : {0.0, 37.25, -120.5}) {
        const Placement picture{100.5, -40.25, 0, degrees / 4, -degrees / 8, degrees, 0.375, 0.625};
        const PictureMap whole = PictureMap::of(picture, levels[0]);
        for (std::uint32_t k = 0; k < levels.size(); ++k) {
            const TileParts parts =
                tileParts(grid, {k, (levels[k].width - 1) / 512, (levels[k].height - 1) / 512});
            for (int i = 0; i < parts.count; ++i) {
                const PixelRect& r = parts.rect[i];
                const PictureMap part = PictureMap::of(
                    partPlacement(picture, levels[0], grid.area(k, r), r, 255), {r.width, r.height});
                for (const std::uint32_t c : {0u, 1u, 2u, 3u}) {
                    const std::uint32_t x = (c & 1) * r.width, y = (c >> 1) * r.height;
                    const double u = boundary(2999, levels[k].width, k, r.x + x),
                                 v = boundary(2001, levels[k].height, k, r.y + y);
                    EXPECT_NEAR(part.x(x, y), whole.x(u, v), 1e-6)
                        << "level " << k << " part " << i << " " << degrees;
                    EXPECT_NEAR(part.y(x, y), whole.y(u, v), 1e-6)
                        << "level " << k << " part " << i << " " << degrees;
                }
            }
        }
    }
}

// Eight levels, level k needing 4^(7 - k) bytes: 16384, 4096, 1024, 256, 64, 16, 4, 1.
TEST(TilesPlan, ChosenLevelsAreThePairWhenItFitsElseTheFinestLevelThatDoes) {
    const std::size_t count = 8;
    const auto bytesFor = [](std::size_t level) { return std::size_t{1} << (2 * (count - 1 - level)); };
    struct Row {
        double pixels;
        std::size_t available, finer, coarser;
        bool limited, fits;
    };
    const Row rows[] = {
        {1.0, 16384, 0, 0, false, true},  // level 0 alone
        {1.0, 16383, 1, 1, true, true},   // level 0 does not fit: level 1's 4096
        {0.5, 4096, 1, 1, false, true},   // log2(1 / 0.5) = 1 exactly: level 1 alone
        {0.5, 4095, 2, 2, true, true},
        {0.3, 5120, 1, 2, false, true},  // log2(1 / 0.3) = 1.74: levels 1 and 2, 4096 + 1024
        {0.3, 5119, 2, 2, true, true},   // the pair does not fit: the coarser alone
        {0.3, 1023, 3, 3, true, true},   // nor does level 2: level 3's 256
        {0.3, 0, 7, 7, true, false},     // not even level 7's 1 byte
        {0.1, 320, 3, 4, false, true},   // log2(10) = 3.32: 256 + 64
        {0.1, 319, 4, 4, true, true},
        {0.01, 5, 6, 7, false, true},  // log2(100) = 6.64: 4 + 1
        {0.01, 4, 7, 7, true, true},
        {0.001, 1, 7, 7, false, true},  // log2(1000) = 9.97, past the last level: level 7 alone
        {0.001, 0, 7, 7, true, false},
    };
    for (const Row& row : rows) {
        const LevelChoice got = chooseLevels(row.pixels, count, row.available, bytesFor);
        EXPECT_EQ(std::make_tuple(got.blend.finer, got.blend.coarser, got.limited, got.fits),
                  std::make_tuple(row.finer, row.coarser, row.limited, row.fits))
            << "pixels " << row.pixels << ", available " << row.available;
    }
}

TEST(TilesPlan, ReadsArePinnedThenCoarseThenNearAndDrawnTilesStay) {
    using Key = std::tuple<bool, std::uint32_t, double>;  // pinned, level, distance
    const std::vector<Key> asked{{false, 0, 5},   {true, 1, 3}, {false, 3, 1}, {true, 3, 9},
                                 {false, 3, 0.5}, {true, 1, 2}, {false, 0, 1}};
    std::vector<TileRequest> requests;
    for (const auto& [pinned, level, distance] : asked)
        requests.push_back({{level, 0, 0}, {}, 0, pinned, distance});
    std::sort(requests.begin(), requests.end(), moreUrgent);
    std::vector<Key> got;
    for (const TileRequest& r : requests) got.emplace_back(r.pinned, r.tile.level, r.distance);
    // Pinned first; among them the coarser level first (3 before 1), however far; then the nearest.
    const std::vector<Key> want{{true, 3, 9},  {true, 1, 2},  {true, 1, 3}, {false, 3, 0.5},
                                {false, 3, 1}, {false, 0, 1}, {false, 0, 5}};
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::make_tuple(evictable(10, 10, false), evictable(9, 10, false), evictable(8, 10, false),
                              evictable(0, 10, true)),
              std::make_tuple(false, false, true, false));  // drawn in this frame or the one before: kept
}

}  // namespace
