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

// Where texel boundary x of level k lies on level 0, as the view promises: at x * 2^k when the level is
// a halving of level 0 rounded up or down (its last boundary at the picture's edge), else evenly.
double boundary(std::uint32_t full, std::uint32_t size, std::size_t k, std::uint64_t x) {
    const std::uint64_t f = std::uint64_t{1} << k;
    if (size != (full + f - 1) / f && size != full / f) return static_cast<double>(x) * full / size;
    return x >= size ? full : static_cast<double>(x * f);
}

// Rounded up, rounded down, and with a level of no halving size (level 2).
std::vector<std::vector<TileSize>> levelSets() {
    std::vector<std::vector<TileSize>> sets;
    for (const auto& full : {TileSize{2999, 2001}, TileSize{2500, 2100}, TileSize{1537, 1}}) {
        std::vector<TileSize> up{full}, down{full};
        for (std::uint32_t k = 1, f = 2; full.width / f > 0 || full.height / f > 0; ++k, f *= 2) {
            up.push_back({(full.width + f - 1) / f, (full.height + f - 1) / f});
            down.push_back({std::max(full.width / f, 1u), std::max(full.height / f, 1u)});
        }
        sets.push_back(up);
        sets.push_back(down);
    }
    sets.push_back({{3000, 2000}, {1500, 1000}, {700, 333}, {350, 100}});
    return sets;
}

TEST(TilesPlan, LevelTexelsLieAtPowersOfTwoWithTheLastAtTheEdgeOrStretchedEvenly) {
    for (const auto& levels : levelSets()) {
        const LevelGrid grid(levels);
        for (std::size_t k = 0; k < levels.size(); ++k) {
            SCOPED_TRACE(testing::Message() << levels[k].width << " x " << levels[k].height << " at level "
                                            << k << " of " << levels[0].width << " x " << levels[0].height);
            for (std::uint64_t x = 0; x <= levels[k].width; ++x)
                ASSERT_NEAR(grid.across(k).at(x), boundary(levels[0].width, levels[k].width, k, x), 1e-9)
                    << "column boundary " << x;
            for (std::uint64_t y = 0; y <= levels[k].height; ++y)
                ASSERT_NEAR(grid.down(k).at(y), boundary(levels[0].height, levels[k].height, k, y), 1e-9)
                    << "row boundary " << y;
        }
    }
}

// The parts an axis of a tile is held in: quarters, and the level's last texel alone when it is not as
// wide as the others.
std::vector<std::pair<std::uint32_t, std::uint32_t>> expectedSpans(std::uint32_t start, std::uint32_t length,
                                                                   std::uint32_t full, std::uint32_t size,
                                                                   std::size_t k) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spans{{start, std::min(length, 256u)}};
    if (length > 256) spans.push_back({start + 256, length - 256});
    const auto width = [&](std::uint64_t x) {
        return boundary(full, size, k, x + 1) - boundary(full, size, k, x);
    };
    auto& last = spans.back();
    if (start + length == size && last.second > 1 && std::fabs(width(size - 1) - width(0)) > 1e-6) {
        --last.second;
        spans.push_back({size - 1, 1});
    }
    return spans;
}

std::uint64_t pow2(std::uint64_t v) {
    std::uint64_t p = 1;
    while (p < v) p *= 2;
    return p;
}

TEST(TilesPlan, TilePartsAndBytesMatchQuartersWithTheLastTexelAlone) {
    for (const auto& levels : levelSets()) {
        const LevelGrid grid(levels);
        for (std::uint32_t k = 0; k < levels.size(); ++k) {
            const TileSize s = levels[k];
            std::uint64_t levelSum = 0;
            for (std::uint32_t row = 0; row * 512 < s.height; ++row)
                for (std::uint32_t col = 0; col * 512 < s.width; ++col) {
                    SCOPED_TRACE(testing::Message()
                                 << "level " << k << " tile " << col << ", " << row << " of "
                                 << levels[0].width << " x " << levels[0].height);
                    const std::uint32_t x = col * 512, y = row * 512;
                    const auto xs =
                        expectedSpans(x, std::min(512u, s.width - x), levels[0].width, s.width, k);
                    const auto ys =
                        expectedSpans(y, std::min(512u, s.height - y), levels[0].height, s.height, k);
                    const TileParts parts = tileParts(grid, {k, col, row});
                    ASSERT_EQ(parts.count, static_cast<int>(xs.size() * ys.size()));
                    std::uint64_t bytes = 0;
                    for (std::size_t r = 0; r < ys.size(); ++r)
                        for (std::size_t c = 0; c < xs.size(); ++c) {
                            const PixelRect& got = parts.rect[r * xs.size() + c];
                            EXPECT_EQ(std::make_tuple(got.x, got.y, got.width, got.height),
                                      std::make_tuple(xs[c].first, ys[r].first, xs[c].second, ys[r].second));
                            bytes += pow2(xs[c].second) * pow2(ys[r].second) * 4;
                        }
                    EXPECT_EQ(tileBytes(grid, {k, col, row}), bytes);
                    levelSum += bytes;
                }
            EXPECT_EQ(levelBytes(grid, k), levelSum) << "level " << k;
        }
    }
}

// A point of the picture's level 0, and a part's texel corner, each placed by hand: turned about Z, then
// Y, then X (angles as the library stores them, in float).
struct Point {
    double x, y, z;
};
Point turn(const Placement& p, double x, double y) {
    double z = 0;
    const auto rotate = [](double& a, double& b, double degrees) {
        const double r = static_cast<double>(static_cast<float>(degrees)) * M_PI / 180;
        const double c = std::cos(r), s = std::sin(r), a0 = a;
        a = c * a0 - s * b;
        b = s * a0 + c * b;
    };
    rotate(x, y, p.rotateZ);
    rotate(z, x, p.rotateY);
    rotate(y, z, p.rotateX);
    return {p.centreX + x, p.centreY + y, p.centreZ + z};
}

TEST(TilesPlan, PartsOfTurnedPicturesLandWhereThePictureMapsTheirCorners) {
    const std::vector<TileSize> levels{{2999, 2001}, {1500, 1001}, {750, 501}, {375, 251}};
    const LevelGrid grid(levels);
    for (const double degrees : {0.0, 37.25, -120.5}) {
        Placement picture;
        picture.scaleX = 0.375;
        picture.scaleY = 0.625;
        picture.rotateZ = degrees;
        picture.rotateX = degrees / 4;
        picture.rotateY = -degrees / 8;
        picture.centreX = 100.5;
        picture.centreY = -40.25;
        for (std::uint32_t k = 0; k < levels.size(); ++k) {
            const TileIndex t{k, (levels[k].width - 1) / 512, (levels[k].height - 1) / 512};
            const TileParts parts = tileParts(grid, t);
            for (int i = 0; i < parts.count; ++i) {
                const PixelRect& r = parts.rect[i];
                const double u0 = boundary(2999, levels[k].width, k, r.x),
                             u1 = boundary(2999, levels[k].width, k, r.x + r.width);
                const double v0 = boundary(2001, levels[k].height, k, r.y),
                             v1 = boundary(2001, levels[k].height, k, r.y + r.height);
                const Placement p = partPlacement(picture, levels[0], grid.area(k, r), r, 255);
                for (const auto& corner : {std::make_pair(0, 0), {1, 0}, {0, 1}, {1, 1}}) {
                    const Point want = turn(picture, ((corner.first ? u1 : u0) - 2999 / 2.0) * 0.375,
                                            -((corner.second ? v1 : v0) - 2001 / 2.0) * 0.625);
                    const Point got = turn(p, (corner.first - 0.5) * r.width * static_cast<float>(p.scaleX),
                                           -(corner.second - 0.5) * r.height * static_cast<float>(p.scaleY));
                    EXPECT_NEAR(got.x, want.x, 1e-4) << "level " << k << " part " << i << " at " << degrees;
                    EXPECT_NEAR(got.y, want.y, 1e-4) << "level " << k << " part " << i << " at " << degrees;
                    EXPECT_NEAR(got.z, want.z, 1e-4) << "level " << k << " part " << i << " at " << degrees;
                }
            }
        }
    }
}

TEST(TilesPlan, ChosenLevelsAreThePairWhenItFitsElseTheFinestLevelThatDoes) {
    const std::size_t count = 8;
    const auto bytesFor = [](std::size_t level) { return std::size_t{1} << (2 * (count - 1 - level)); };
    for (const double pixels : {1.0, 0.5, 0.3, 0.1, 0.01})
        for (std::size_t available = 0; available <= bytesFor(0) * 2; available += available / 3 + 1) {
            const LevelBlend asked = levelsFor(pixels, count);
            const LevelChoice got = chooseLevels(pixels, count, available, bytesFor);
            const std::size_t pair =
                bytesFor(asked.coarser) + (asked.finer != asked.coarser ? bytesFor(asked.finer) : 0);
            SCOPED_TRACE(testing::Message() << "pixels " << pixels << ", available " << available);
            if (pair <= available) {
                EXPECT_FALSE(got.limited);
                EXPECT_EQ(std::make_tuple(got.blend.finer, got.blend.coarser, got.blend.finerOpacity),
                          std::make_tuple(asked.finer, asked.coarser, asked.finerOpacity));
                continue;
            }
            std::size_t level = asked.coarser;
            while (level + 1 < count && bytesFor(level) > available) ++level;
            EXPECT_TRUE(got.limited);
            EXPECT_EQ(got.fits, bytesFor(level) <= available);
            EXPECT_EQ(std::make_tuple(got.blend.finer, got.blend.coarser, got.blend.finerOpacity),
                      std::make_tuple(level, level, 1.0));
        }
}

TEST(TilesPlan, ReadsArePinnedThenCoarseThenNearAndDrawnTilesStay) {
    std::vector<TileRequest> requests;
    for (const bool pinned : {false, true})
        for (std::uint32_t level : {0u, 3u, 1u})
            for (const double distance : {5.0, 1.0, 3.0})
                requests.push_back({{level, 0, 0}, {}, 0, pinned, distance});
    std::sort(requests.begin(), requests.end(), moreUrgent);
    for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
        const TileRequest &a = requests[i], &b = requests[i + 1];
        EXPECT_TRUE(std::make_tuple(!a.pinned, -int(a.tile.level), a.distance) <
                    std::make_tuple(!b.pinned, -int(b.tile.level), b.distance));
    }
    EXPECT_FALSE(evictable(9, 10, false));  // drawn in the frame before
    EXPECT_FALSE(evictable(10, 10, false));
    EXPECT_TRUE(evictable(8, 10, false));
    EXPECT_FALSE(evictable(0, 10, true));
}

}  // namespace
