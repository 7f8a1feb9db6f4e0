// Seams of the tile view, on 1000 x 1000 frames read back whole: a picture whose pixels encode their
// coordinates, of odd sizes (partial tiles at the right and bottom of every level), drawn turned (about
// Z, and twice tilted about X and Y as well) and scaled, opaque and translucent, must look as its levels
// drawn whole as Zelvan images of their own, layer by layer. At most 4 wrong pixels per frame
// (wrongPixels says what is wrong): a pixel centre within float rounding of a seam may take the texel
// on its other side.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

std::vector<std::uint8_t> frameAfter(const std::function<void()>& draw, float clearAlpha = 1) {
    zelvan_support::setUpOrtho(kSide, kSide, 1, 0, 1, clearAlpha);
    glMatrixMode(GL_PROJECTION);  // deep enough for pictures tilted out of the plane
    glLoadIdentity();
    glOrtho(0, kSide, 0, kSide, -1e5, 1e5);
    glMatrixMode(GL_MODELVIEW);
    draw();
    std::vector<std::uint8_t> rgba(std::size_t{kSide} * kSide * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSide, kSide, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

constexpr std::uint8_t kBackground[3] = {255, 0, 255};

// One layer of the reference: a level drawn whole and opaque over a transparent clear (alpha tells
// where it covers), and the opacity it is blended at.
struct Layer {
    std::vector<std::uint8_t> frame;
    int alpha;
};

// Channel c of pixel i with layer l's pixel taken `offsets[l]` pixels away, blended as OpenGL blends
// 8-bit colour, each layer over the ones before, the first over the background.
int composed(const std::vector<Layer>& layers, int x, int y, int c, const int* offsets) {
    int value = kBackground[c];
    for (std::size_t l = 0; l < layers.size(); ++l) {
        const int nx = std::clamp(x + offsets[l] % 3 - 1, 0, kSide - 1);
        const int ny = std::clamp(y + offsets[l] / 3 - 1, 0, kSide - 1);
        const std::uint8_t* px = &layers[l].frame[(std::size_t(ny) * kSide + nx) * 4];
        if (px[3] != 0)
            value = int(std::lround((px[c] * layers[l].alpha + value * (255 - layers[l].alpha)) / 255.0));
    }
    return value;
}

// Frame pixels that no blend of the layers' pixels, each layer's taken within one pixel of it, explains:
// a gap between tiles shows the background, an overlap blends twice, a texel from a tile's far side
// shows another coordinate. Each layer may be off by a pixel on its own, as its edges round.
int wrongPixels(const std::vector<std::uint8_t>& got, const std::vector<Layer>& layers) {
    int wrong = 0;
    const int combinations = int(std::pow(9, layers.size()));
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::uint8_t* g = &got[(std::size_t(y) * kSide + x) * 4];
            bool matched = false;
            for (int k = 0; k < combinations && !matched; ++k) {
                int offsets[3] = {k % 9, k / 9 % 9, k / 81 % 9};
                if (k < 9) offsets[1] = offsets[2] = k;  // the layers together first: the usual match
                matched = true;
                for (int c = 0; c < 3 && matched; ++c)
                    matched = std::abs(g[c] - composed(layers, x, y, c, offsets)) <= 3;
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
    struct Turn {
        double degrees, scale, aboutX = 0, aboutY = 0;
    };
    std::vector<Turn> turns;
    for (const double degrees : {0.0, 17.0, 30.0, 45.0, 90.0})
        for (const double scale : {0.37, 0.61, 1.0, 1.7, 3.1}) turns.push_back({degrees, scale});
    turns.push_back({30, 0.61, 50, -30});  // tilted out of the frame's plane too
    turns.push_back({17, 1.7, -35, 60});
    for (const Turn& turn : turns)
        for (const int alpha : {255, 128}) {
            const double scale = turn.scale;
            SCOPED_TRACE(testing::Message()
                         << turn.degrees << " degrees (" << turn.aboutX << ", " << turn.aboutY
                         << " about X, Y), scale " << scale << ", opacity " << alpha);
            // Level-0 point (2560, 1600), by the right column's and a row's boundaries, at the centre.
            zelvan::Placement p;
            p.scaleX = p.scaleY = scale;
            p.rotateZ = turn.degrees;
            p.rotateX = turn.aboutX;
            p.rotateY = turn.aboutY;
            p.alpha = static_cast<std::uint8_t>(alpha);
            const zelvan::detail::Vec3 offset =
                zelvan::detail::turned(p, {(2560 - width / 2.0) * scale, -(1600 - height / 2.0) * scale, 0});
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
            std::vector<Layer> layers;  // the levels drawn whole as the view draws its tiles
            const auto addLevel = [&](std::size_t k, double opacity, float shiftX, float shiftY) {
                // Level k's texels 2^k level-0 pixels wide, its top-left corner on the picture's: its last
                // column and row reach past the picture's edge, where the view cuts them short.
                zelvan::Placement q = p;
                q.scaleX = q.scaleY = std::ldexp(scale, static_cast<int>(k));
                const double overhangX = levels[k].width() * std::ldexp(1.0, static_cast<int>(k)) - width;
                const double overhangY = levels[k].height() * std::ldexp(1.0, static_cast<int>(k)) - height;
                const zelvan::detail::Vec3 moved =
                    zelvan::detail::turned(p, {overhangX / 2 * scale, -overhangY / 2 * scale, 0});
                q.centreX += moved.x;
                q.centreY += moved.y;
                q.centreZ += moved.z;
                q.alpha = 255;
                levels[k].place(q);
                zelvan::detail::translateShifted(levels[k].handle(), q, levels[k].width(), levels[k].height(),
                                                 shiftX, shiftY);
                layers.push_back(
                    {frameAfter([&] { levels[k].draw(); }, 0), int(std::lround(alpha * opacity))});
            };
            // The passes written out: at scale 1 or more level 0 alone; below, the finer of the two
            // nearest levels (1 for 0.37, 0 for 0.61) three times, a quarter pixel apart along each
            // axis, a third of the opacity each, each over what the later ones leave.
            const double a = alpha / 255.0;
            const std::size_t finer = scale >= 1 ? 0 : scale < 0.5 ? 1 : 0;
            ASSERT_EQ(view.stats().level, finer);
            if (scale >= 1) {
                addLevel(0, 1, 0, 0);
            } else {
                addLevel(finer, 1 / 3.0 / (1 - 2 * a / 3), -0.25f, 0);
                addLevel(finer, 1 / 3.0 / (1 - a / 3), 0, -0.25f);
                addLevel(finer, 1 / 3.0, 0.25f, 0.25f);
            }
            EXPECT_LE(wrongPixels(tiled, layers), 4);
            if (alpha == 255) {
                opaque = tiled;
                continue;
            }
            // Translucent, the layers together show the picture at 128 / 255 over the background,
            // away from the footprint's edges (where the finer level's shifted passes cover a pixel
            // alone). The background's red, 255, is more than any picture pixel's.
            const auto nearEdge = [&](int x, int y) {
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = std::clamp(x + dx, 0, kSide - 1),
                                  ny = std::clamp(y + dy, 0, kSide - 1);
                        if (opaque[(std::size_t(ny) * kSide + nx) * 4] > 0x7B) return true;
                    }
                return false;
            };
            int off = 0;
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x)
                    for (int c = 0; c < 3 && !nearEdge(x, y); ++c) {
                        const std::size_t i = (std::size_t(y) * kSide + x) * 4 + c;
                        const double d =
                            std::abs(tiled[i] - (opaque[i] * 128 + kBackground[c] * 127) / 255.0);
                        off += d > 3.5;  // three layers, each rounded to 8 bits
                    }
            EXPECT_LE(off, 8);
        }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
