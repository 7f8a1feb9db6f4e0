#include "remote_tour.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "contest.h"
#include "remote/remote_opening.h"

namespace zelvan_bench {
namespace {

constexpr int kFrames = 600, kFlingFrames = 30;
constexpr double kFrameSeconds = 1.0 / 60;
constexpr double kRestSeconds = 30;

// Where the tour looks in frame i: the picture's centre's offset from the point shown, in level-0
// pixels, the scale (screen pixels a picture pixel) and the turn in degrees.
struct Look {
    double dx, dy, scale, degrees;
};

double blend(double a, double b, double t) { return a + (b - a) * t; }
double zoom(double a, double b, double t) { return a * std::pow(b / a, t); }

Look lookAt(int i, double fitted) {
    const double t = i;
    if (i < 120) return {blend(0, 20000, t / 120), blend(0, 10000, t / 120), zoom(fitted, 1, t / 120), 0};
    if (i < 240) return {20000 - 12 * (t - 120), 10000 - 6 * (t - 120), 1, 0};  // a steady pan at 1:1
    if (i < 300) return {18560 + 60 * (t - 240), 9280, 1, 0};                   // a fling
    if (i < 390) return {22160 + 40 * (t - 300), 9280 - 40 * (t - 300), zoom(1, 1.0 / 16, (t - 300) / 90), 0};
    if (i < 480) return {25760 - 20 * (t - 390), 5680, 0.25, t - 390};              // turning, drifting
    if (i < 540) return {23960 - 160 * (t - 480), 5680 + 80 * (t - 480), 0.5, 90};  // a fling at 1:2
    return {blend(14360, 0, (t - 540) / 60), blend(10480, 0, (t - 540) / 60),
            zoom(0.5, fitted, (t - 540) / 60), blend(90, 0, (t - 540) / 60)};
}

zelvan::Placement placementOf(const Look& look, int width, int height) {
    const double a = look.degrees * M_PI / 180;
    zelvan::Placement p;
    p.scaleX = p.scaleY = look.scale;
    p.rotateZ = look.degrees;
    // The picture's y runs down the screen's -y: its offset turns with the picture.
    const double x = look.dx * look.scale, y = -look.dy * look.scale;
    p.centreX = width / 2.0 + x * std::cos(a) - y * std::sin(a);
    p.centreY = height / 2.0 + x * std::sin(a) + y * std::cos(a);
    return p;
}

// The view's tiles a server request served: its level and pixel rectangle there, on the view's grid.
std::vector<std::uint64_t> viewTilesOf(const std::string& path, std::uint32_t dziTop) {
    static const std::regex iiif(R"(^/iiif/(\d+),(\d+),(\d+),(\d+)/(\d+),(\d+)/0/default\.png$)");
    static const std::regex dzi(R"(^/deep_files/(\d+)/(\d+)_(\d+)\.png$)");
    std::smatch m;
    std::uint32_t level = 0;
    std::uint64_t x = 0, y = 0, w = 0, h = 0;
    if (std::regex_match(path, m, iiif)) {
        const std::uint64_t rx = std::stoull(m[1]), ry = std::stoull(m[2]), rw = std::stoull(m[3]),
                            rh = std::stoull(m[4]);
        w = std::stoull(m[5]), h = std::stoull(m[6]);
        while (level < 32 &&
               ((rw + (1ull << level) - 1) >> level != w || (rh + (1ull << level) - 1) >> level != h))
            ++level;
        x = rx >> level, y = ry >> level;
    } else if (std::regex_match(path, m, dzi)) {
        const std::uint32_t l = static_cast<std::uint32_t>(std::stoul(m[1]));
        if (l > dziTop) return {};
        level = dziTop - l;
        const std::uint64_t side = (100000ull + (1ull << level) - 1) >> level;
        x = std::stoull(m[2]) * 254, y = std::stoull(m[3]) * 254;
        w = std::min<std::uint64_t>(254, side - std::min(side, x));
        h = std::min<std::uint64_t>(254, side - std::min(side, y));
    }
    std::vector<std::uint64_t> keys;
    if (w == 0 || h == 0) return keys;
    const std::uint64_t side = zelvan::detail::kTileSide;
    for (std::uint64_t row = y / side; row <= (y + h - 1) / side; ++row)
        for (std::uint64_t column = x / side; column <= (x + w - 1) / side; ++column)
            keys.push_back(zelvan::detail::tileKey(
                {level, static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(row)}));
    return keys;
}

struct FrameRecord {
    double time;  // when its draw began, and with it the wanting
    std::set<std::uint64_t> wanted;
};

// The tiles a view wants in a frame, as TileView plans it: the pinned level's and the frame's levels'.
class WantedTiles {
public:
    WantedTiles(const std::vector<zelvan::TileSize>& levels, std::size_t budget)
        : grid_(levels), cache_(grid_, budget_) {
        cache_.choosePinned(budget);
        cache_.pinnedTiles(pinned_);
        available_ = (budget - cache_.pinnedBytes()) / 2;
    }
    // `coarserBy`: the levels the view went coarser than the scale asks while it moved.
    std::set<std::uint64_t> of(const zelvan::Placement& p, const zelvan::Frame& frame,
                               std::size_t coarserBy) {
        zelvan::detail::planFrame(p, grid_, frame, available_, plan_, SIZE_MAX, coarserBy);
        std::set<std::uint64_t> keys;
        for (const auto* list : {&plan_.coarse, &plan_.fine, &pinned_})
            for (const zelvan::TileIndex& t : *list) keys.insert(zelvan::detail::tileKey(t));
        return keys;
    }

private:
    zelvan::detail::LevelGrid grid_;
    zelvan::detail::TextureBudget budget_;  // the cache's, holding nothing: it only chooses the pinned level
    zelvan::detail::TileCache cache_;
    std::vector<zelvan::TileIndex> pinned_;
    std::size_t available_ = 0;
    zelvan::detail::FramePlan plan_;
};

// Where a fling's frames go, from its start: kFlingFrames of 600 pixels; gliding, then slower by a
// sixth each frame, as a flung view coasts, until it moves less than a pixel.
std::vector<double> flingPositions(bool glide) {
    std::vector<double> x{0};
    for (int i = 0; i < kFlingFrames; ++i) x.push_back(x.back() + 600);
    for (double speed = 600 * 5 / 6.0; glide && speed >= 1; speed *= 5 / 6.0) x.push_back(x.back() + speed);
    return x;
}

// When each tile came, to tell the tiles a frame drew in place of finer ones still coming: TileView draws
// the finest tile it holds under a wanted one it lacks.
class StandIns {
public:
    StandIns(const std::vector<ServedRequest>& served, std::uint32_t dziTop) {
        for (const ServedRequest& r : served)
            if (r.complete)
                for (const std::uint64_t key : viewTilesOf(r.path, dziTop)) {
                    const auto found = came_.emplace(key, r.end).first;
                    found->second = std::min(found->second, r.end);
                }
    }
    // Whether frame `f` drew one of `keys` (tiles of one level, all come by then) for a finer tile it
    // wanted and lacked, no tile of a level between them held.
    bool drawnFor(const std::vector<std::uint64_t>& keys, const FrameRecord& f) const {
        const std::uint32_t level = zelvan::detail::tileOfKey(keys.front()).level;
        for (const std::uint64_t want : f.wanted) {
            const zelvan::TileIndex w = zelvan::detail::tileOfKey(want);
            if (w.level >= level || cameBy(want, f.time)) continue;
            const auto above = [&w](std::uint32_t l) {
                return zelvan::detail::tileKey({l, w.column >> (l - w.level), w.row >> (l - w.level)});
            };
            if (std::find(keys.begin(), keys.end(), above(level)) == keys.end()) continue;
            bool between = false;
            for (std::uint32_t l = w.level + 1; l < level && !between; ++l)
                between = cameBy(above(l), f.time);
            if (!between) return true;
        }
        return false;
    }

private:
    bool cameBy(std::uint64_t key, double time) const {
        const auto found = came_.find(key);
        return found != came_.end() && found->second <= time;
    }
    std::map<std::uint64_t, double> came_;
};

// Tells what the tour's requests begun from `from` did, against the frames that wanted their tiles.
void account(const std::vector<ServedRequest>& served, const std::vector<FrameRecord>& frames,
             std::uint32_t dziTop, double from, TourResult& result) {
    const StandIns standIns(served, dziTop);
    for (const ServedRequest& r : served) {
        if (r.start < from) continue;
        ++result.requests;
        result.bytes += r.bytes;
        if (!r.complete) ++result.requestsLeftEarly;
        const std::vector<std::uint64_t> keys = viewTilesOf(r.path, dziTop);
        if (keys.empty()) continue;  // the descriptor
        const auto wants = [&keys](const FrameRecord& f) {
            return std::any_of(keys.begin(), keys.end(),
                               [&f](std::uint64_t k) { return f.wanted.count(k) != 0; });
        };
        bool drawn = false;
        double leftAt = -1;  // when every tile it served had stopped being wanted, before its end
        for (const FrameRecord& f : frames) {
            const bool wanted = wants(f);
            if (r.complete && f.time >= r.end && (wanted || standIns.drawnFor(keys, f))) drawn = true;
            if (f.time > r.end) continue;
            if (wanted)
                leftAt = -1;
            else if (leftAt < 0)
                leftAt = f.time;
        }
        if (!drawn) result.wastedBytes += r.bytes;
        if (leftAt >= 0) {  // every tile it served had left before it ended
            const double runOn = (r.end - std::max(leftAt, r.start)) * 1000;
            result.longestRunOnMs = std::max(result.longestRunOnMs, runOn);
            if (runOn > 100) ++result.runOnPast100ms;
        }
    }
}

}  // namespace

TourResult tour(const TileServer& server, const std::string& path, int width, int height,
                unsigned requestsPerHost, Route route, bool followMotion) {
    TourResult result;
    zelvan::sources::OpenOptions options;
    options.cacheRemote = false;
    options.requestsPerHost = requestsPerHost;
    server.clearLog();
    const double start = now();
    std::unique_ptr<zelvan::sources::PictureSource> source =
        zelvan::sources::detail::openRemote(server.url(path), options, result.error);
    if (!source) return result;
    const std::vector<zelvan::TileSize>& levels = source->info().levels;
    const std::uint32_t dziTop = static_cast<std::uint32_t>(std::ceil(std::log2(levels[0].width)));
    std::vector<FrameRecord> frames;
    double countFrom = 0;  // requests begun before it are the fling's start, not the fling
    {
        zelvan::TileViewOptions viewOptions;
        viewOptions.followMotion = followMotion;
        zelvan::TileView view(*source, viewOptions);
        WantedTiles wanted(levels, viewOptions.budgetBytes);
        const zelvan::Frame frame{0, 0, static_cast<double>(width), static_cast<double>(height), 1};
        const double fitted = std::min(double(width) / levels[0].width, double(height) / levels[0].height);
        const auto drawFrame = [&](const zelvan::Placement& p) {
            view.place(p);
            const double time = now();
            view.draw(frame);
            glFinish();
            const zelvan::TileStats s = view.stats();
            frames.push_back({time, wanted.of(p, frame, s.budgetLimited ? 0 : s.level - s.scaleLevel)});
        };
        const bool fling = route != Route::Tour;
        const std::vector<double> flung = flingPositions(route == Route::Glide);
        const int count = fling ? int(flung.size()) : kFrames;
        const auto lookOf = [&](int i) {
            return fling ? Look{flung[std::size_t(i)], 0, 1, 0} : lookAt(i, fitted);
        };
        if (fling) {  // at rest where the fling starts, until complete
            const double giveUp = now() + kRestSeconds;
            do {
                drawFrame(placementOf(lookOf(0), width, height));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            } while (!view.stats().complete && now() < giveUp);
        }
        const double flingStart = now();
        const auto tourStart = std::chrono::steady_clock::now();
        for (int i = fling ? 1 : 0; i < count; ++i) {
            drawFrame(placementOf(lookOf(i), width, height));
            std::this_thread::sleep_until(tourStart +
                                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                              std::chrono::duration<double>((i + 1) * kFrameSeconds)));
        }
        countFrom = fling ? flingStart : 0;
        const zelvan::Placement rest = placementOf(lookOf(count - 1), width, height);
        const double restStart = now(), giveUp = restStart + kRestSeconds;
        do {
            drawFrame(rest);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (!view.stats().complete && now() < giveUp);
        result.seconds = now() - start;
        result.restSeconds = now() - restStart;
        if (!view.stats().complete) result.error = "the last frame did not complete";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the server logs what the view left
    account(server.served(), frames, dziTop, countFrom, result);
    result.ok = result.error.empty();
    return result;
}

}  // namespace zelvan_bench
