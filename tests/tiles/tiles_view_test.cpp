// The tile view on a real context, frames read back: textures within the budget on every frame of a
// tour of a 10^6 x 10^6 picture (as OpenGL saw them allocated), exact pixels at scale >= 1, the box
// filter's average zoomed out, never a hole while tiles load slowly, only the tiles a turned frame
// meets, invalidation without a flash, failed reads, and sources that make no sense.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "procedural_source.h"
#include "zelvan_tiles.hpp"

namespace zelvan_support {
bool operator==(const Rgba& a, const Rgba& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }
}  // namespace zelvan_support

namespace {

using zelvan_support::Rgba;
using zelvan_test::GlTest;
using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;
using zelvan_test::ProceduralTiles;
using zelvan_test::ProceduralTilesOptions;
using zelvan_test::TilePattern;

constexpr Rgba kBackground{255, 0, 255, 255};  // in none of the patterns
const zelvan::Frame kFrame{0, 0, kSurfaceWidth, kSurfaceHeight, 1};

std::vector<Rgba> drawFrame(zelvan::TileView& view, const zelvan::Frame& f = kFrame) {
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 1, 0, 1, 1);
    view.draw(f);
    std::vector<Rgba> frame(std::size_t{kSurfaceWidth} * kSurfaceHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

// Draws until the view has every tile it wants (a bound on frames, not on time).
bool settle(zelvan::TileView& view, const zelvan::Frame& f = kFrame) {
    for (int i = 0; i < 3000; ++i) {
        drawFrame(view, f);
        if (view.stats().complete) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

zelvan::Placement placed(double scale, double degrees, double centreX, double centreY,
                         std::uint8_t alpha = 255) {
    zelvan::Placement p;
    p.scaleX = p.scaleY = scale;
    p.rotateZ = degrees;
    p.centreX = centreX;
    p.centreY = centreY;
    p.alpha = alpha;
    return p;
}

// (a, b) turned counter-clockwise by `degrees`.
std::pair<double, double> turned(double degrees, double a, double b) {
    const double r = degrees * 3.14159265358979323846 / 180, c = std::cos(r), s = std::sin(r);
    return {c * a - s * b, s * a + c * b};
}

// Level-0 pixel under frame pixel (x, y)'s centre, false outside the picture (or within `margin` of its
// edge). `p` is placed(): the picture's centre at (centreX, centreY), y up, turned about Z; its pixel
// (u, v), v down, at centre + turned(scale * (u - width / 2), scale * (height / 2 - v)).
bool sourcePixelAt(const zelvan::Placement& p, std::uint32_t width, std::uint32_t height, int x, int y,
                   double margin, double& u, double& v) {
    const auto [a, b] = turned(-p.rotateZ, x + 0.5 - p.centreX, y + 0.5 - p.centreY);
    u = a / p.scaleX + width / 2.0;
    v = height / 2.0 - b / p.scaleY;
    return u >= margin && v >= margin && u < width - margin && v < height - margin;
}

// Texture bytes alive, from the recorded glBindTexture, glTexImage2D and glDeleteTextures calls.
class TextureLedger {
public:
    std::size_t bytes() const { return total_; }
    std::size_t uploaded() const { return uploaded_; }  // texture bytes made since the last take
    void take(zelvan_support::GlRecorder& recorder) {
        uploaded_ = 0;
        for (const std::string& call : recorder.calls()) {
            std::vector<std::string> args;
            std::stringstream list(call.substr(call.find('(') + 1));
            for (std::string a; std::getline(list, a, ',');) args.push_back(a);
            if (call.rfind("glBindTexture(", 0) == 0) bound_ = std::stoul(args[1]);
            if (call.rfind("glTexImage2D(", 0) == 0) {
                total_ -= textures_[bound_];
                textures_[bound_] = std::stoul(args[3]) * std::stoul(args[4]) * 4;
                total_ += textures_[bound_];
                uploaded_ += textures_[bound_];
            }
            if (call.rfind("glDeleteTextures(1,", 0) == 0) {  // the library deletes one at a time
                const auto it = textures_.find(std::stoul(args[1]));
                if (it != textures_.end()) total_ -= it->second, textures_.erase(it);
            }
        }
        recorder.clear();
    }

private:
    std::map<unsigned long, std::size_t> textures_;
    unsigned long bound_ = 0;
    std::size_t total_ = 0, uploaded_ = 0;
};

class TileView : public GlTest {};

// A tour (zoom in, pan, turn, zoom out) with every read 50 ms late: texture bytes as OpenGL allocated
// them never above the budget nor this frame's upload share, and no hole in any frame once the one-tile
// level came (waited for before the first, so that no count of frames races the reads).
TEST_F(TileView, TourOfAMillionSquarePictureStaysInItsBudgetWithoutHoles) {
    for (const int opacity : {255, 128}) {
        SCOPED_TRACE(testing::Message() << "opacity " << opacity);
        ProceduralTilesOptions slow;
        slow.delay = std::chrono::milliseconds(50);
        ProceduralTiles source(1000000, 1000000, slow);
        zelvan::TileViewOptions options;
        options.budgetBytes = std::size_t{14} << 20;
        options.workers = 3;
        options.uploadBytesPerFrame = std::size_t{2} << 20;
        options.followMotion = false;  // every level the scale asks for, however fast the tour goes
        zelvan::TileView view(source, options);
        ASSERT_TRUE(view);
        zelvan_support::GlRecorder recorder;
        TextureLedger ledger;
        ASSERT_TRUE(view.waitUntilReady(std::chrono::minutes(1)));
        ledger.take(recorder);
        const double fit = kSurfaceWidth / 1e6;
        for (int frame = 0; frame < 320; ++frame) {
            const double t = frame / 80.0;
            const double scale = frame < 80    ? fit * std::pow(3 / fit, t)
                                 : frame < 240 ? 3
                                               : 3 * std::pow(fit / 3, t - 3);
            const double pan = frame < 80 ? 0 : std::min(frame - 80, 80) * 40.0;
            const double degrees = frame < 160 ? 0 : std::min(frame - 160, 80) * 1.125;
            // Level-0 point (300000 + pan, 400000) at the frame's centre.
            const auto [ox, oy] = turned(degrees, (300000 + pan - 500000) * scale, (500000 - 400000) * scale);
            const zelvan::Placement p =
                placed(scale, degrees, 256 - ox, 256 - oy, static_cast<std::uint8_t>(opacity));
            view.place(p);
            const std::vector<Rgba> pixels = drawFrame(view);
            ledger.take(recorder);
            ASSERT_LE(ledger.bytes(), options.budgetBytes) << "frame " << frame;
            ASSERT_EQ(view.stats().residentBytes, ledger.bytes()) << "frame " << frame;
            ASSERT_LE(ledger.uploaded(), options.uploadBytesPerFrame) << "frame " << frame;
            int holes = 0;
            for (int y = 0; y < kSurfaceHeight; ++y)
                for (int x = 0; x < kSurfaceWidth; ++x) {
                    double u = 0, v = 0;
                    holes += sourcePixelAt(p, 1000000, 1000000, x, y, 1 / scale, u, v) &&
                             pixels[std::size_t(y) * kSurfaceWidth + x] == kBackground;
                }
            EXPECT_EQ(holes, 0) << "frame " << frame;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // More came than the budget holds, so tiles went to make room. (Twice the budget depended on the
        // machine's pace: a quick one draws the tour's frames before as many reads end.)
        EXPECT_GT(view.stats().uploads * (std::size_t{1} << 20), options.budgetBytes);
        EXPECT_EQ(source.badRequests(), 0u);
    }
}

// Frame pixels that are not the level-0 pixel under their centre (or the background outside).
int wrongPixels(ProceduralTiles& source, const zelvan::Placement& p, const std::vector<Rgba>& frame) {
    int wrong = 0, inside = 0;
    for (int y = 0; y < kSurfaceHeight; ++y)
        for (int x = 0; x < kSurfaceWidth; ++x) {
            double u = 0, v = 0;
            Rgba want = kBackground;
            unsigned char bgra[4];
            if (sourcePixelAt(p, source.width(), source.height(), x, y, 0, u, v)) {
                ++inside;
                source.pixel(0, static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(v), bgra);
                want = {bgra[2], bgra[1], bgra[0], bgra[3]};
            }
            if (!(frame[std::size_t(y) * kSurfaceWidth + x] == want) && ++wrong <= 3)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is not source pixel (" << u << ", " << v
                              << ")";
        }
    EXPECT_GT(inside, kSurfaceWidth * kSurfaceHeight / 8);
    return wrong;
}

// Flung across a picture whose reads take 50 ms, a view reads a level whose tiles are still in view when
// they come, and the level its scale asks for once it stops; told not to, it keeps to the scale's level.
TEST_F(TileView, FlungViewReadsWhatCanComeInTimeAndTheFinestAtRest) {
    for (const bool follow : {true, false}) {
        ProceduralTilesOptions slow;
        slow.delay = std::chrono::milliseconds(50);
        ProceduralTiles source(1000000, 1000000, slow);
        zelvan::TileViewOptions options;
        options.followMotion = follow;
        zelvan::TileView view(source, options);
        // 1:1, the picture's middle at the frame's; then 5000 pixels a frame to the left, far more than a
        // read's time lets any tile of the scale's level come in view.
        const auto at = [](int step) { return placed(1, 0, 256 + 500000.0 - 5000.0 * step, 256); };
        view.place(at(0));
        ASSERT_TRUE(view.waitUntilComplete(kFrame, std::chrono::minutes(1)));
        std::size_t coarsest = 0;
        for (int step = 1; step <= 10; ++step) {
            view.place(at(step));
            drawFrame(view);
            coarsest = std::max(coarsest, view.stats().level - view.stats().scaleLevel);
        }
        if (follow)
            EXPECT_GE(coarsest, 2u);
        else
            EXPECT_EQ(coarsest, 0u);
        drawFrame(view);  // at rest
        EXPECT_EQ(view.stats().level, view.stats().scaleLevel);
        EXPECT_TRUE(settle(view));
        EXPECT_EQ(view.stats().level, 0u);
    }
}

TEST_F(TileView, StillViewOfTheLargestPictureIsExactAndThenUploadsNothing) {
    ProceduralTilesOptions pattern;
    pattern.pattern = TilePattern::Coordinates;
    const std::uint32_t side = 4294967295u;  // its last tile column and row are 511 pixels
    ProceduralTiles source(side, side, pattern);
    zelvan::TileView view(source);
    ASSERT_TRUE(view);
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale);
        // The picture's bottom-right corner at frame pixel (400, 100).
        const zelvan::Placement p = placed(scale, 0, 400 - side * scale / 2, 100 + side * scale / 2);
        view.place(p);
        ASSERT_TRUE(settle(view));
        EXPECT_EQ(wrongPixels(source, p, drawFrame(view)), 0);
    }
    const zelvan::TileStats before = view.stats();
    zelvan_support::GlRecorder recorder;
    for (int i = 0; i < 20; ++i) {
        drawFrame(view);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const std::string& call : recorder.calls()) ASSERT_NE(call.rfind("glTexImage2D", 0), 0u) << call;
    EXPECT_EQ(view.stats().uploads, before.uploads);
    EXPECT_EQ(view.stats().requests, before.requests);
}

TEST_F(TileView, ReadingOnTheDrawingThreadCompletesEvenWithNoUploadShare) {
    ProceduralTilesOptions pattern;
    pattern.pattern = TilePattern::Coordinates;
    ProceduralTiles source(3000, 2000, pattern);
    zelvan::TileViewOptions options;
    options.readOnDrawingThread = true;
    options.uploadBytesPerFrame = 0;  // still a tile a frame
    zelvan::TileView view(source, options);
    const zelvan::Placement p = placed(1, 0, 100, 300);
    view.place(p);
    for (int i = 0; i < 40 && !view.stats().complete; ++i) drawFrame(view);  // no waiting: nothing else reads
    ASSERT_TRUE(view.stats().complete);
    EXPECT_EQ(wrongPixels(source, p, drawFrame(view)), 0);
}

// At one screen pixel per texel of level k, level k alone: every pixel inside the picture shows the
// texel under its centre, to the far right and bottom edges, where texels placed other than at 2^k
// level-0 pixels would drift. Sizes whose levels round, to 2 or 3 texels a side among them.
TEST_F(TileView, EachLevelAtOnePixelPerTexelShowsTheTexelUnderEveryPixelToTheEdges) {
    ProceduralTilesOptions pattern;
    pattern.pattern = TilePattern::Coordinates;
    for (const auto& size : {std::make_pair(2999u, 2001u), std::make_pair(2500u, 2100u)}) {
        ProceduralTiles source(size.first, size.second, pattern);
        zelvan::TileView view(source);
        for (const std::size_t k : {1, 2, 3, 6, 10, 11}) {
            SCOPED_TRACE(testing::Message() << size.first << " x " << size.second << ", level " << k);
            const zelvan::TileSize s = source.levelSize(k);
            const double f = std::ldexp(1, static_cast<int>(k));  // level-0 pixels a texel
            // Texel (0, 0)'s top-left corner at whole pixel (x0, top), the picture's bottom right near (500,
            // 12).
            const int x0 = 500 - static_cast<int>(s.width), top = 12 + static_cast<int>(s.height);
            view.place(placed(1 / f, 0, x0 + source.width() / f / 2, top - source.height() / f / 2));
            ASSERT_TRUE(settle(view));
            const std::vector<Rgba> frame = drawFrame(view);
            EXPECT_EQ(view.stats().level, k);
            EXPECT_EQ(view.stats().coarserLevel, k);
            int wrong = 0;
            for (int y = 0; y < kSurfaceHeight; ++y)
                for (int x = std::max(x0, 0); x < kSurfaceWidth; ++x) {
                    const auto tx = static_cast<std::uint32_t>(x - x0),
                               ty = static_cast<std::uint32_t>(top - 1 - y);
                    if (y >= top || (tx + 0.5) * f >= source.width() || (ty + 0.5) * f >= source.height())
                        continue;
                    unsigned char bgra[4];
                    source.pixel(k, tx, ty, bgra);
                    const Rgba want{bgra[2], bgra[1], bgra[0], 255};
                    if (!(frame[std::size_t(y) * kSurfaceWidth + x] == want) && ++wrong <= 3)
                        ADD_FAILURE()
                            << "pixel (" << x << ", " << y << ") is not texel (" << tx << ", " << ty << ")";
                }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// Linear light of an sRGB byte, 0 to 1.
double linear(std::uint8_t v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
std::uint8_t encoded(double l) {
    const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    return static_cast<std::uint8_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255));
}

TEST_F(TileView, ZoomedOutFrameIsWithinOneAndAHalfLevelsOfTheBoxFilter) {
    ProceduralTilesOptions pattern;
    pattern.pattern = TilePattern::Lines;  // 1-pixel lines, which skipping pixels loses
    pattern.cell = 7;
    ProceduralTiles source(4096, 4096, pattern);
    zelvan::TileView view(source);
    ASSERT_TRUE(view);
    const double scale = 0.3;
    const zelvan::Placement p = placed(scale, 0, 256, 256);
    view.place(p);
    ASSERT_TRUE(settle(view));
    const std::vector<Rgba> frame = drawFrame(view);
    // The linear-light mean of the level-0 pixels under a square of `side` level-0 pixels about (u, v).
    const auto box = [&](double u, double v, double side, int channel) {
        double sum = 0;
        int n = 0;
        for (auto y = static_cast<std::uint32_t>(v - side / 2); y < v + side / 2; ++y)
            for (auto x = static_cast<std::uint32_t>(u - side / 2); x < u + side / 2; ++x, ++n) {
                unsigned char bgra[4];
                source.pixel(0, x, y, bgra);
                sum += linear(bgra[2 - channel]);
            }
        return encoded(sum / n);
    };
    double drawnError = 0, blurError = 0;
    int samples = 0;
    for (int y = 2; y < kSurfaceHeight; y += 5)
        for (int x = 2; x < kSurfaceWidth; x += 5) {
            double u = 0, v = 0;
            if (!sourcePixelAt(p, 4096, 4096, x, y, 16, u, v)) continue;
            const Rgba& got = frame[std::size_t(y) * kSurfaceWidth + x];
            const std::uint8_t drawn[3] = {got.r, got.g, got.b};
            for (int c = 0; c < 3; ++c) {
                const int exact = box(u, v, 1 / scale, c);
                drawnError += std::abs(drawn[c] - exact);
                blurError += std::abs(box(u, v, std::pow(2, 1.5) / scale, c) - exact);
            }
            ++samples;
        }
    ASSERT_GT(samples, 5000);
    EXPECT_LE(drawnError, blurError) << "mean error " << drawnError / samples / 3 << ", 1.5 levels' blur "
                                     << blurError / samples / 3;
}

TEST_F(TileView, TurnedFrameReadsOnlyTheTilesItMeets) {
    ProceduralTiles source(20000, 20000);
    zelvan::TileViewOptions oneWorker;  // reads start in the order asked: the log shows that order
    oneWorker.workers = 1;
    zelvan::TileView view(source, oneWorker);
    ASSERT_TRUE(view);
    const zelvan::Placement p = placed(1, 45, 256 - 3000, 256 + 2000);
    view.place(p);
    const zelvan::Frame frame{-1000, -1000, 1500, 1500, 1};  // planned for, larger than the surface
    ASSERT_TRUE(settle(view, frame));
    std::set<std::pair<std::uint32_t, std::uint32_t>> read;
    const std::vector<zelvan_test::TileRead> log = source.readLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().level, 6u) << "the one-tile level (313 x 313) first";
    for (const auto& r : log)
        if (r.level == 0) read.insert({r.x, r.y});
    // Level 0's 512 x 512 tiles that meet the frame. Turned 45 degrees, tile (tx, ty) is a diamond around
    // (-2744 + (a - b) / sqrt 2, 2256 + (a + b) / sqrt 2), a = 512 tx + 256 - 10000, b = 10000 - 512 ty -
    // 256, its corners 256 sqrt 2 = 362 away along the axes: it meets the frame when the distances across and
    // down from its centre to the frame add up to at most 362. Tile (17, 25): centre (-1318, -640), 318
    // left of the frame, in; (16, 25): (-1680, -1002), 680 + 2, out. Rows 22 to 29, first and last column:
    const std::uint32_t rows[][3] = {{22, 20, 20}, {23, 19, 21}, {24, 18, 22}, {25, 17, 23},
                                     {26, 17, 24}, {27, 18, 23}, {28, 19, 22}, {29, 20, 21}};
    std::size_t meeting = 0;
    for (const auto& row : rows)
        for (std::uint32_t tx = row[1]; tx <= row[2]; ++tx, ++meeting)
            EXPECT_EQ(read.count({tx * 512, row[0] * 512}), 1u)
                << "tile (" << tx << ", " << row[0] << ") never read";
    ASSERT_GT(meeting, 0u);
    EXPECT_LE(read.size(), meeting * 13 / 10);
}

TEST_F(TileView, ViewBeyondTheBudgetDrawsACoarserLevelWhole) {
    ProceduralTiles source(20000, 20000);
    zelvan::TileViewOptions options;
    options.budgetBytes = std::size_t{12} << 20;  // level 0 of the frame needs 36 MiB, level 1 16
    zelvan::TileView view(source, options);
    view.place(placed(1, 0, 256, 256));
    const zelvan::Frame frame{-1000, -1000, 1500, 1500, 1};
    ASSERT_TRUE(settle(view, frame));
    EXPECT_GE(view.stats().level, 2u);
    const std::uint64_t uploads = view.stats().uploads;
    for (int i = 0; i < 10; ++i) drawFrame(view, frame);
    EXPECT_EQ(view.stats().uploads, uploads);
}

TEST_F(TileView, InvalidatedRegionShowsItsOldPixelsUntilTheNewCome) {
    ProceduralTilesOptions pattern;
    pattern.pattern = TilePattern::Coordinates;
    pattern.delay = std::chrono::milliseconds(5);
    ProceduralTiles source(2048, 2048, pattern);
    zelvan::TileView view(source);
    ASSERT_TRUE(view);
    const zelvan::Placement p = placed(1, 0, 624, -212);  // level-0 pixel (400 + x, 811 - y) at (x, y)
    view.place(p);
    ASSERT_TRUE(settle(view));
    // Updated 30 times a second: each frame pixel is its level-0 pixel of some generation (every byte
    // of a generation flipped alike), never a hole or a coarser level's pixel.
    for (int frame = 0; frame < 40; ++frame) {
        if (frame % 2 == 0) {
            source.bumpGeneration();
            view.invalidate(400, 300, 512, 512);
        }
        const std::vector<Rgba> pixels = drawFrame(view);
        int stray = 0;
        for (std::uint32_t y = 0; y < kSurfaceHeight; ++y)
            for (std::uint32_t x = 0; x < kSurfaceWidth; ++x) {
                const std::uint32_t u = 400 + x, v = 811 - y;
                const Rgba& c = pixels[std::size_t{y} * kSurfaceWidth + x];
                const std::uint32_t flip = c.b ^ (u & 255);
                stray += (c.g ^ flip) != (v & 255) || (c.r ^ flip) != ((u >> 8 & 15) | (v >> 8 & 15) << 4);
            }
        ASSERT_EQ(stray, 0) << "frame " << frame;
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    ASSERT_TRUE(settle(view));
    EXPECT_EQ(wrongPixels(source, p, drawFrame(view)), 0);
}

TEST_F(TileView, FailedReadsLeaveTheCoarserLevelAndAreGivenUp) {
    ProceduralTiles source(4096, 4096);
    zelvan_test::TileFailures failures;
    failures.level = 0;
    failures.region = {1024, 1024, 512, 512};
    source.setFailures(failures);
    zelvan::TileViewOptions options;
    options.retries = 2;
    options.retryBackoff = std::chrono::hours(1);  // given up for longer than the test: no race with it
    zelvan::TileView view(source, options);
    const zelvan::Placement p =
        placed(1, 0, 256 + 2048 - 1280, 256 - 2048 + 1280);  // the failing tile's centre
    view.place(p);
    std::vector<Rgba> frame;
    for (int i = 0; i < 3000 && !(view.stats().readsGivenUp > 0 && view.stats().readsPending == 0); ++i) {
        frame = drawFrame(view);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    frame = drawFrame(view);
    const zelvan::TileStats stats = view.stats();
    EXPECT_EQ(stats.readsGivenUp, 1u);
    EXPECT_EQ(stats.readsFailed, 3u);
    EXPECT_FALSE(stats.complete);
    EXPECT_EQ(std::count(frame.begin(), frame.end(), kBackground), 0);
}

// Levels as given, every read succeeding.
class Levels final : public zelvan::TileSource {
public:
    explicit Levels(std::vector<zelvan::TileSize> levels) : levels_(std::move(levels)) {}
    std::size_t levelCount() const override { return levels_.size(); }
    zelvan::TileSize levelSize(std::size_t level) const override { return levels_.at(level); }
    bool read(std::size_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, unsigned char*,
              std::size_t) override {
        return true;
    }

private:
    std::vector<zelvan::TileSize> levels_;
};

TEST_F(TileView, SourcesThatMakeNoSenseGiveAnEmptyView) {
    for (const auto& levels :
         std::vector<std::vector<zelvan::TileSize>>{{},
                                                    {{0, 0}},
                                                    {{100, 100}, {101, 50}},
                                                    {{100, 100}, {50, 0}},
                                                    std::vector<zelvan::TileSize>(70, {1, 1})}) {
        Levels source(levels);
        zelvan::TileView view(source);
        EXPECT_FALSE(view);
        view.place(placed(1, 0, 0, 0));
        view.draw(kFrame);
        view.invalidate(0, 0, 10, 10);
        EXPECT_EQ(view.stats().tilesResident, 0u);
    }
    ZelvanShutdown();  // no library instance: no view either
    ProceduralTiles source(100, 100);
    EXPECT_FALSE(zelvan::TileView(source));
}

}  // namespace
