// Seams of the tile view, on 1000 x 1000 frames read back whole: a picture of odd size (partial tiles at
// the right and bottom of every level) whose every texel is a hash of its level and place, drawn turned
// (about Z, and twice tilted about X and Y as well) and scaled, opaque and translucent, must show under
// each pixel centre the texels the geometry puts there, worked out here from the placement alone: the
// finer level's three passes a third of a pixel apart, blended as OpenGL blends 8-bit colour. A texel a
// boundary away, even in one pass at a third of the opacity, changes the pixel by more than the blending
// rounds. At most 4 wrong pixels per frame: a pixel centre within float rounding of a texel boundary or
// an edge may show either side (wrongPixels allows that already), and a hash may repeat.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "gl_context.h"
#include "sanitizers.h"
#include "zelvan_tiles.hpp"

namespace {

// Under AddressSanitizer, whose lane looks for the library's memory faults, and in the Windows build,
// run under Wine to find what that build gets wrong, a third of the turns: every angle and every scale
// still among them. The whole sweep runs in the Linux builds.
#if ZT_ADDRESS_SANITIZER || defined(_WIN32)
constexpr bool kSampled = true;
#else
constexpr bool kSampled = false;
#endif

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

using Rgb = std::array<int, 3>;

// Levels of 2999 x 2001 halved rounding up, down to 1 x 1; texel (x, y) of level k covers level-0 pixels
// x 2^k to (x + 1) 2^k (the last column and row cut at the picture's edge).
struct Hashed final : zelvan::TileSource {
    static constexpr std::uint32_t kWidth = 2999, kHeight = 2001;
    std::size_t levelCount() const override { return 13; }  // 2999 needs 12 halvings
    zelvan::TileSize levelSize(std::size_t k) const override {
        const std::uint32_t f = 1u << k;
        return {(kWidth + f - 1) / f, (kHeight + f - 1) / f};
    }
    static Rgb texel(std::size_t k, std::uint32_t x, std::uint32_t y) {
        std::uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ static_cast<std::uint32_t>(k) * 0xC2B2AE3Du;
        h ^= h >> 15, h *= 0x2C1B3C6Du, h ^= h >> 12, h *= 0x297A2D39u, h ^= h >> 15;
        return {int(h & 255), int(h >> 8 & 255), int(h >> 16 & 255)};
    }
    bool read(std::size_t k, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
              unsigned char* pixels, std::size_t pitch) override {
        for (std::uint32_t r = 0; r < height; ++r)
            for (std::uint32_t c = 0; c < width; ++c) {
                const Rgb t = texel(k, x + c, y + r);
                unsigned char* out = pixels + r * pitch + c * 4;
                out[0] = std::uint8_t(t[2]), out[1] = std::uint8_t(t[1]), out[2] = std::uint8_t(t[0]),
                out[3] = 255;
            }
        return true;
    }
};

// Where the placement puts the picture, written from zelvan.h: the frame turned about X, then Y, then Z
// (counter-clockwise, as glRotate), the picture's centre at (centreX, centreY), level-0 pixel (u, v) at
// centre + R (scale (u - width / 2) + dx, scale (height / 2 - v) + dy, 0) for a pass moved by (dx, dy)
// along the turned axes; the orthographic frame drops z.
struct Geometry {
    double r[3][3];        // R = Rx Ry Rz
    double inverse[2][2];  // of R's upper-left 2 x 2: frame offsets to turned (x, y) in the picture's plane
    double scale, centreX = 0, centreY = 0;

    Geometry(double aboutX, double aboutY, double aboutZ, double s) : scale(s) {
        const auto turn = [](int axis, double degrees, double m[3][3]) {
            const double a = degrees * 3.14159265358979323846 / 180, c = std::cos(a), sn = std::sin(a);
            const int i = (axis + 1) % 3, j = (axis + 2) % 3;  // the plane turned, i towards j
            for (int p = 0; p < 3; ++p)
                for (int q = 0; q < 3; ++q) m[p][q] = p == q;
            m[i][i] = m[j][j] = c, m[i][j] = -sn, m[j][i] = sn;
        };
        double x[3][3], y[3][3], z[3][3], xy[3][3] = {};
        turn(0, aboutX, x), turn(1, aboutY, y), turn(2, aboutZ, z);
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) {
                for (int k = 0; k < 3; ++k) xy[p][q] += x[p][k] * y[k][q];
            }
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) {
                r[p][q] = 0;
                for (int k = 0; k < 3; ++k) r[p][q] += xy[p][k] * z[k][q];
            }
        const double det = r[0][0] * r[1][1] - r[0][1] * r[1][0];
        inverse[0][0] = r[1][1] / det, inverse[0][1] = -r[0][1] / det;
        inverse[1][0] = -r[1][0] / det, inverse[1][1] = r[0][0] / det;
    }
    // The frame point of turned-plane offset (a, b) from the centre.
    std::pair<double, double> frameOffset(double a, double b) const {
        return {r[0][0] * a + r[0][1] * b, r[1][0] * a + r[1][1] * b};
    }
    // Level-0 (u, v) under frame point (x, y) for a pass moved by (dx, dy).
    std::pair<double, double> at(double x, double y, double dx, double dy) const {
        const double px = x - centreX, py = y - centreY;
        const double a = inverse[0][0] * px + inverse[0][1] * py, b = inverse[1][0] * px + inverse[1][1] * py;
        return {(a - dx) / scale + Hashed::kWidth / 2.0, Hashed::kHeight / 2.0 - (b - dy) / scale};
    }
    // How far u and v may move for a frame point moved `pixels` in any direction.
    double reachU(double pixels) const { return pixels * std::hypot(inverse[0][0], inverse[0][1]) / scale; }
    double reachV(double pixels) const { return pixels * std::hypot(inverse[1][0], inverse[1][1]) / scale; }
};

// One pass: level k moved by (dx, dy) at opacity `alpha` (0 to 255).
struct Pass {
    std::size_t k;
    double dx, dy;
    int alpha;
};

// What pass may show at a pixel centre: the texel under it, and those across a boundary within `slack`
// frame pixels (float rounding of the pieces' placements); -1 for the background left as it was. Kept
// in place, not on the heap: a frame asks this of a million pixels.
struct Candidates {
    std::array<int, 4> codes{};
    std::size_t size = 0;
};
Candidates candidates(const Geometry& g, const Pass& pass, int x, int y, double slack) {
    const auto [u, v] = g.at(x + 0.5, y + 0.5, pass.dx, pass.dy);
    const double eu = g.reachU(slack), ev = g.reachV(slack), f = std::ldexp(1.0, int(pass.k));
    Candidates out;
    for (const double su : {u - eu, u + eu})
        for (const double sv : {v - ev, v + ev}) {
            int code = -1;
            if (su >= 0 && sv >= 0 && su < Hashed::kWidth && sv < Hashed::kHeight)
                code = int(std::floor(su / f)) << 12 | int(std::floor(sv / f));
            const auto end = out.codes.begin() + static_cast<std::ptrdiff_t>(out.size);
            if (std::find(out.codes.begin(), end, code) == end) out.codes[out.size++] = code;
        }
    return out;
}

// Whether texels a and b of level k lie in different parts: quarters of tiles, 256 texels a side, cut
// again before the level's last column and row.
bool inDifferentParts(int a, int b, std::size_t k) {
    const zelvan::TileSize size = Hashed{}.levelSize(k);
    const auto part = [](int texel, std::uint32_t count) {
        return texel / 256 * 2 + (std::uint32_t(texel) + 1 >= count);
    };
    return a >= 0 && b >= 0 &&
           (part(a >> 12, size.width) != part(b >> 12, size.width) ||
            part(a & 4095, size.height) != part(b & 4095, size.height));
}

// One way a pass may show at a pixel: the texels it blends there (none, one, or two parts' both).
struct Choice {
    std::array<int, 2> codes{};
    std::size_t count = 0;
};
struct Choices {
    std::array<Choice, 32> choices{};  // four candidates, and two for each of twelve ordered pairs
    std::size_t size = 0;
    void add(std::array<int, 2> codes, std::size_t count) { choices[size++] = {codes, count}; }
};

// Frame pixels that no choice of the passes' candidate texels explains, blended over the background
// each pass over the ones before, src * alpha + dst * (255 - alpha) rounded to 8 bits, within 3 a channel.
int wrongPixels(const std::vector<std::uint8_t>& got, const Geometry& g, const std::vector<Pass>& passes) {
    int wrong = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            std::array<Choices, 3> options;  // per pass (three at most), the texels each choice blends
            std::size_t combinations = 1;
            for (std::size_t i = 0; i < passes.size(); ++i) {
                const Pass& pass = passes[i];
                const Candidates texels = candidates(g, pass, x, y, 0.03);
                Choices& choices = options[i];
                choices.size = 0;
                for (std::size_t t = 0; t < texels.size; ++t) choices.add({texels.codes[t]}, 1);
                // A translucent pass's parts meet edge to edge without overlapping: a centre within float
                // rounding (a thousandth of a pixel) of where two meet may fall between them, or under both.
                const Candidates meeting = pass.alpha < 255 ? candidates(g, pass, x, y, 0.001) : Candidates{};
                for (std::size_t a = 0; a < meeting.size; ++a)
                    for (std::size_t b = 0; b < meeting.size; ++b)
                        if (inDifferentParts(meeting.codes[a], meeting.codes[b], pass.k)) {
                            choices.add({}, 0);
                            choices.add({meeting.codes[a], meeting.codes[b]}, 2);
                        }
                combinations *= choices.size;
            }
            const std::uint8_t* px = &got[(std::size_t(y) * kSide + x) * 4];
            bool matched = false;
            for (std::size_t n = 0; n < combinations && !matched; ++n) {
                Rgb value{kBackground[0], kBackground[1], kBackground[2]};
                std::size_t rest = n;
                for (std::size_t i = 0; i < passes.size(); ++i) {
                    const Choice& choice = options[i].choices[rest % options[i].size];
                    rest /= options[i].size;
                    for (std::size_t m = 0; m < choice.count; ++m) {
                        const int code = choice.codes[m];
                        if (code < 0) continue;
                        const Rgb t =
                            Hashed::texel(passes[i].k, std::uint32_t(code >> 12), std::uint32_t(code & 4095));
                        for (int c = 0; c < 3; ++c)
                            value[c] = int(std::lround(
                                (t[c] * passes[i].alpha + value[c] * (255 - passes[i].alpha)) / 255.0));
                    }
                }
                matched = true;
                for (int c = 0; c < 3; ++c) matched = matched && std::abs(px[c] - value[c]) <= 3;
            }
            wrong += !matched;
        }
    return wrong;
}

TEST(TileViewSeams, TurnedAndScaledFramesShowTheTexelsTheGeometryPutsThere) {
    zelvan_support::GlContext context(kSide, kSide);
    ASSERT_TRUE(context.isValid()) << context.error();
    const zelvan::Library library;
    ASSERT_TRUE(library);
    Hashed source;
    zelvan::TileView view(source);
    ASSERT_TRUE(view);
    std::vector<std::uint8_t> opaque;  // the frame at opacity 255, for the one at 128
    struct Turn {
        double degrees, scale, aboutX = 0, aboutY = 0;
    };
    std::vector<Turn> turns;
    const double angles[] = {0.0, 17.0, 30.0, 45.0, 90.0}, scales[] = {0.37, 0.61, 1.0, 1.7, 3.1};
    for (int a = 0; a < 5; ++a)
        for (int s = 0; s < 5; ++s)
            if (!kSampled || (a + s) % 3 == 0) turns.push_back({angles[a], scales[s]});
    turns.push_back({30, 0.61, 50, -30});  // tilted out of the frame's plane too
    turns.push_back({17, 1.7, -35, 60});
    for (const Turn& turn : turns)
        for (const int alpha : {255, 128}) {
            const double scale = turn.scale;
            SCOPED_TRACE(testing::Message()
                         << turn.degrees << " degrees (" << turn.aboutX << ", " << turn.aboutY
                         << " about X, Y), scale " << scale << ", opacity " << alpha);
            // Level-0 point (2560, 1600), by the right column's and a row's boundaries, at the centre.
            Geometry g(turn.aboutX, turn.aboutY, turn.degrees, scale);
            const auto [ox, oy] =
                g.frameOffset(scale * (2560 - Hashed::kWidth / 2.0), scale * (Hashed::kHeight / 2.0 - 1600));
            g.centreX = kSide / 2.0 - ox;
            g.centreY = kSide / 2.0 - oy;
            const zelvan::Placement p{g.centreX,   g.centreY,   0,
                                      turn.aboutX, turn.aboutY, turn.degrees,
                                      scale,       scale,       static_cast<std::uint8_t>(alpha)};
            view.place(p);
            ASSERT_TRUE(view.waitUntilComplete(kFrame, std::chrono::minutes(1)));
            const std::vector<std::uint8_t> tiled = frameAfter([&] { view.draw(kFrame); });
            ASSERT_TRUE(view.stats().complete);
            // At scale 1 or more, level 0 alone. Below, the two nearest levels (0 and 1 for 0.61, 1 and 2
            // for 0.37): the coarser hidden under the finer drawn three times, moved 85/256 of a pixel
            // (one unit is one frame pixel) to (-1, 0), (0, -1) and (+1, +1) thirds,
            // each showing a third of the opacity a over what the later ones leave: the last a / 3, the
            // one before x with x (1 - a / 3) = a / 3, x = a / (3 - a), the first a / (3 - 2a).
            const double a = alpha / 255.0, third = 85 / 256.0;
            const std::size_t finer = scale >= 1 ? 0 : scale < 0.5 ? 1 : 0;
            ASSERT_EQ(view.stats().level, finer);
            const auto share = [&](double fraction) { return int(std::lround(alpha * fraction)); };
            std::vector<Pass> passes{{0, 0, 0, alpha}};
            if (scale < 1)
                passes = {{finer, -third, 0, share(1 / (3 - 2 * a))},
                          {finer, 0, -third, share(1 / (3 - a))},
                          {finer, third, third, share(1 / 3.0)}};
            EXPECT_LE(wrongPixels(tiled, g, passes), 4);
            if (alpha == 255) {
                opaque = tiled;
                continue;
            }
            // Translucent, the passes together show the picture at 128 / 255 over the background, away
            // from the picture's edges (where the finer level's shifted passes cover a pixel alone) and
            // from pixel centres on a texel boundary, which either frame may take from either side.
            const auto skipped = [&](int x, int y) {
                const auto [u, v] = g.at(x + 0.5, y + 0.5, 0, 0);
                const double mu = g.reachU(1.5), mv = g.reachV(1.5);
                if (u < mu || v < mv || u > Hashed::kWidth - mu || v > Hashed::kHeight - mv) return true;
                return std::any_of(passes.begin(), passes.end(), [&](const Pass& pass) {
                    return candidates(g, pass, x, y, 0.03).size > 1;
                });
            };
            int off = 0;
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x) {
                    if (skipped(x, y)) continue;
                    for (int c = 0; c < 3; ++c) {
                        const std::size_t i = (std::size_t(y) * kSide + x) * 4 + c;
                        const double d =
                            std::abs(tiled[i] - (opaque[i] * 128 + kBackground[c] * 127) / 255.0);
                        off += d > 3.5;  // three passes, each rounded to 8 bits
                    }
                }
            EXPECT_LE(off, 8);
        }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
