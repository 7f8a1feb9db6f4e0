// Seams of the tile view, on 1000 x 1000 frames read back whole: a picture whose pixels encode their
// coordinates, of odd sizes (partial tiles at the right and bottom of every level), drawn turned and
// scaled, opaque and translucent, must look as its levels drawn whole as Zelvan images of their own.
// A frame pixel is wrong when no pixel of that reference within one pixel of it matches it (a gap
// between tiles shows the background, an overlap blends twice, a texel from a tile's far side shows
// another coordinate); at most 2 per frame.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "gl_context.h"
#include "procedural_source.h"
#include "zelvan_tiles.hpp"

namespace {

constexpr int kSide = 1000;
const zelvan::Frame kFrame{0, 0, kSide, kSide, 1};

std::vector<std::uint8_t> frameAfter(const std::function<void()>& draw) {
    zelvan_support::setUpOrtho(kSide, kSide, 1, 0, 1, 1);
    draw();
    std::vector<std::uint8_t> rgba(std::size_t{kSide} * kSide * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSide, kSide, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

int wrongPixels(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want) {
    int wrong = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::uint8_t* g = &got[(std::size_t(y) * kSide + x) * 4];
            bool matched = false;
            for (int dy = -1; dy <= 1 && !matched; ++dy)
                for (int dx = -1; dx <= 1 && !matched; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= kSide || ny >= kSide) continue;
                    const std::uint8_t* w = &want[(std::size_t(ny) * kSide + nx) * 4];
                    matched = std::abs(g[0] - w[0]) <= 2 && std::abs(g[1] - w[1]) <= 2 &&
                              std::abs(g[2] - w[2]) <= 2;
                }
            wrong += !matched;
        }
    return wrong;
}

TEST(TileViewSeams, TurnedAndScaledFramesMatchTheLevelsDrawnWhole) {
    zelvan_support::GlContext context(kSide, kSide);
    ASSERT_TRUE(context.isValid()) << context.error();
    const zelvan::Library library;
    ASSERT_TRUE(library);
    zelvan_test::ProceduralTilesOptions coordinates;
    coordinates.pattern = zelvan_test::TilePattern::Coordinates;
    const std::uint32_t width = 2999, height = 2001;
    zelvan_test::ProceduralTiles source(width, height, coordinates);
    std::vector<zelvan::Image> levels;  // the reference: each level whole
    for (std::size_t k = 0; k < source.levelCount(); ++k) {
        const zelvan::TileSize s = source.levelSize(k);
        std::vector<unsigned char> pixels(std::size_t{s.width} * s.height * 4);
        ASSERT_TRUE(source.read(k, 0, 0, s.width, s.height, pixels.data(), std::size_t{s.width} * 4));
        levels.emplace_back(s.width, s.height);
        ASSERT_TRUE(levels.back().upload(pixels.data(), std::size_t{s.width} * 4, pixels.size()));
    }
    zelvan::TileView view(source);
    ASSERT_TRUE(view);
    std::vector<std::uint8_t> opaque;  // the frame at opacity 255, for the one at 128
    for (const double degrees : {0.0, 17.0, 30.0, 45.0, 90.0})
        for (const double scale : {0.37, 0.61, 1.0, 1.7, 3.1})
            for (const int alpha : {255, 128}) {
                SCOPED_TRACE(testing::Message()
                             << degrees << " degrees, scale " << scale << ", opacity " << alpha);
                // Level-0 point (2560, 1600), by the right column's and a row's boundaries, at the centre.
                zelvan::Placement p;
                p.scaleX = p.scaleY = scale;
                p.rotateZ = degrees;
                p.alpha = static_cast<std::uint8_t>(alpha);
                const zelvan::detail::Vec3 offset = zelvan::detail::turned(
                    p, {(2560 - width / 2.0) * scale, -(1600 - height / 2.0) * scale, 0});
                p.centreX = kSide / 2.0 - offset.x;
                p.centreY = kSide / 2.0 - offset.y;
                view.place(p);
                bool complete = false;
                for (int i = 0; i < 3000 && !complete; ++i) {
                    frameAfter([&] { view.draw(kFrame); });
                    complete = view.stats().complete;
                    if (!complete) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                ASSERT_TRUE(complete);
                const std::vector<std::uint8_t> tiled = frameAfter([&] { view.draw(kFrame); });
                const zelvan::detail::LevelBlend blend = zelvan::detail::levelsFor(scale, levels.size());
                ASSERT_EQ(view.stats().level, blend.finer);
                const std::vector<std::uint8_t> whole = frameAfter([&] {
                    const auto drawLevel = [&](std::size_t k, double opacity) {
                        zelvan::Placement q = p;
                        q.scaleX = scale * zelvan::detail::ratio(width, levels[k].width());
                        q.scaleY = scale * zelvan::detail::ratio(height, levels[k].height());
                        q.alpha = static_cast<std::uint8_t>(std::lround(alpha * opacity));
                        levels[k].place(q);
                        levels[k].draw();
                    };
                    const double a = alpha / 255.0, f = blend.finer == blend.coarser ? 0 : blend.finerOpacity;
                    drawLevel(blend.coarser, (1 - f) / (1 - f * a));
                    if (f > 0) drawLevel(blend.finer, f);
                });
                EXPECT_LE(wrongPixels(tiled, whole), 2);
                if (alpha == 255) {
                    opaque = tiled;
                    continue;
                }
                // Translucent, the two levels together show the picture at 128 / 255 over the background.
                const std::uint8_t background[3] = {255, 0, 255};
                int off = 0;
                for (std::size_t i = 0; i < tiled.size(); ++i)  // colour only: alpha blends otherwise
                    off += i % 4 != 3 &&
                           std::abs(tiled[i] - (opaque[i] * 128 + background[i % 4 % 3] * 127) / 255.0) > 2.5;
                EXPECT_LE(off, 8);
            }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
