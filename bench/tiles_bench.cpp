// zelvan::TileView over procedural sources (support/procedural_tiles.h, nothing stored):
// - tiles_first_frame: from constructing the view to its first complete frame, for a 10^6 x 10^6 picture
//   shown whole against a 2000 x 2000 one: a view that reads only what the frame needs takes about as
//   long for both, whatever the picture's size.
// - tiles_first_frame_slow: the same for a 10^6 x 10^6 picture whose reads take 20 ms (a disk or a server),
//   with the default workers against one worker (the default on two cores before it suited waiting).
// - tiles_still: a still frame, every tile resident, against zelvan::Pyramid::draw of a 2000 x 2000
//   picture with the same placement: what choosing and drawing the tiles costs per frame; and both
//   against the blend the two drew before their three finer passes (two_pass: the coarser level
//   opaque, the finer twice over it a quarter pixel apart along both axes), drawn by hand from the
//   pyramid's levels.
// - tiles_passes: the same fitted still frame drawn with 16 passes against 3.
// - tiles_tour: the peak resident memory of a tour over the 10^6 x 10^6 picture (zooming and panning,
//   a frame drawn at a time) above the process's memory before it, against the texture budget plus
//   64 MiB. The tour lasts --tour-seconds (60 by default, 1.5 under --quick). On llvmpipe the peak is
//   about twice the budget: the textures, a fifth more once drawn, the view's read buffers, and heap the
//   allocator keeps after the textures and staging buffers churned by eviction are freed (with
//   MALLOC_MMAP_THRESHOLD_=131072 the growth falls by about a third). Run alone, the process has not
//   yet grown: after the other suites their freed memory hides part of the growth.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contest.h"
#include "gl_pixels.h"
#include "procedural_tiles.h"
#include "suites.h"
#include "summary_reporter.h"
#include "view_frames.h"
#include "zelvan_pyramid.hpp"
#include "zelvan_tiles.hpp"

namespace zelvan_bench {

namespace {

constexpr int kViewSide = 1024;
constexpr std::uint32_t kLargeSide = 1000000, kSmallSide = 2000;
constexpr std::size_t kMiB = std::size_t{1} << 20;

zelvan::Frame viewFrame() {
    zelvan::Frame frame;
    frame.right = frame.top = kViewSide;
    return frame;
}

void clearView() {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
}

void firstFrame(benchmark::State& state) {
    zelvan_support::ProceduralTiles large(kLargeSide, kLargeSide), small(kSmallSide, kSmallSide);
    zelvan::Library library;
    zelvan_support::setUpOrtho(kViewSide, kViewSide);
    bool ok = true;
    const auto entrant = [&](const char* name, zelvan_support::ProceduralTiles& source) {
        return Entrant{name, [&] {
                           clearView();
                           const double start = now();
                           auto view = std::make_unique<zelvan::TileView>(source);
                           view->place(zelvan::fit(source.width(), source.height(), kViewSide, kViewSide));
                           ok = *view && drawUntilComplete(*view, viewFrame()) && ok;
                           return now() - start;  // the view's clean-up is not timed
                       }};
    };
    compete(state, entrant("large", large), {entrant("small", small)});
    if (!ok) state.SkipWithError("no complete frame");
}

void firstFrameSlowSource(benchmark::State& state) {
    zelvan_support::ProceduralTilesOptions slow;
    slow.delay = std::chrono::milliseconds(20);
    zelvan_support::ProceduralTiles source(kLargeSide, kLargeSide, slow);
    zelvan::Library library;
    zelvan_support::setUpOrtho(kViewSide, kViewSide);
    bool ok = true;
    const auto entrant = [&](const char* name, unsigned workers) {
        return Entrant{name, [&, workers] {
                           clearView();
                           zelvan::TileViewOptions options;
                           options.workers = workers;
                           const double start = now();
                           auto view = std::make_unique<zelvan::TileView>(source, options);
                           view->place(zelvan::fit(source.width(), source.height(), kViewSide, kViewSide));
                           ok = *view && drawUntilComplete(*view, viewFrame()) && ok;
                           return now() - start;
                       }};
    };
    compete(state, entrant("default", 0), {entrant("one_worker", 1)});
    if (!ok) state.SkipWithError("no complete frame");
}

// The earlier blend, from the pyramid's levels as placed: the coarser level opaque, then the finer at
// half its share (1 - the fraction of log2(1 / scale)) twice, moved by -1/4 and +1/4 pixel along both
// axes, each over what the other leaves.
void drawTwoPass(const zelvan::Pyramid& pyramid, const zelvan::Placement& placement) {
    const double k = std::max(0.0, std::log2(1 / placement.scaleX));
    const auto finer = static_cast<std::size_t>(k);
    const double share = (1 - (k - std::floor(k))) / 2;
    const auto layer = [&](std::size_t level, double opacity, float shift) {
        const zelvan::Image& image = pyramid.level(level);
        zelvan::Placement p = placement;
        p.scaleX = p.scaleY = placement.scaleX * pyramid.width() / image.width();
        ZelvanAlpha(image.handle(), static_cast<std::uint8_t>(std::lround(255 * opacity)));
        zelvan::detail::translateShifted(image.handle(), p, image.width(), image.height(), shift, shift);
        image.draw();
    };
    if (k == std::floor(k)) return layer(finer, 1, 0);
    layer(finer + 1, 1, 0);
    layer(finer, share / (1 - share), -0.25f);
    layer(finer, share, 0.25f);
}

// The same picture in a Pyramid and behind a view, the view's tiles all resident.
void stillFrame(benchmark::State& state, double scale) {
    zelvan_support::ProceduralTiles source(kSmallSide, kSmallSide);
    zelvan::Library library;
    const std::size_t pitch = std::size_t{kSmallSide} * 4;
    std::vector<unsigned char> pixels(pitch * kSmallSide);
    zelvan::Pyramid pyramid(kSmallSide, kSmallSide);
    bool ok = source.read(0, 0, 0, kSmallSide, kSmallSide, pixels.data(), pitch) &&
              pyramid.upload(pixels.data(), pitch, pixels.size());
    zelvan::TileView view(source);
    zelvan::Placement placement;
    placement.centreX = placement.centreY = kViewSide / 2.0;
    placement.scaleX = placement.scaleY = scale;
    pyramid.place(placement);
    view.place(placement);
    zelvan_support::setUpOrtho(kViewSide, kViewSide);
    ok = view && drawUntilComplete(view, viewFrame()) && ok;
    pyramid.draw();  // the renderer prepares each texture on first use; neither entrant pays for that
    glFinish();

    const Entrant tiles{"tiles", [&] {
                            clearView();
                            return timedGl([&] { view.draw(viewFrame()); });
                        }};
    const Entrant reference{"pyramid", [&] {
                                clearView();
                                pyramid.place(placement);
                                return timedGl([&] { pyramid.draw(); });
                            }};
    const Entrant twoPass{"two_pass", [&] {
                              clearView();
                              return timedGl([&] { drawTwoPass(pyramid, placement); });
                          }};
    compete(state, tiles, {reference, twoPass});
    ok = view.stats().complete && ok;
    state.counters["tiles"] = static_cast<double>(view.stats().tilesResident);
    if (!ok) state.SkipWithError("an upload failed, or the view never completed a frame");
}

// A fitted still frame (between levels 0 and 1) drawn with 16 passes against the same view with its
// usual 3, every tile resident: what a still, or a view drawn again at rest, pays for them.
void passesFrame(benchmark::State& state) {
    zelvan_support::ProceduralTiles source(kSmallSide, kSmallSide);
    zelvan::Library library;
    zelvan::TileView view(source);
    zelvan::Placement placement;
    placement.centreX = placement.centreY = kViewSide / 2.0;
    placement.scaleX = placement.scaleY = static_cast<double>(kViewSide) / kSmallSide;
    view.place(placement);
    zelvan_support::setUpOrtho(kViewSide, kViewSide);
    const bool ok = view && drawUntilComplete(view, viewFrame());
    const auto drawnWith = [&view](const char* name, int passes) {
        return Entrant{name, [&view, passes] {
                           clearView();
                           view.setPasses(passes);
                           return timedGl([&] { view.draw(viewFrame()); });
                       }};
    };
    compete(state, drawnWith("sixteen", 16), {drawnWith("three", 3)});
    if (!ok || !view.stats().complete) state.SkipWithError("the view never completed a frame");
}

// A figure of /proc/self/status in bytes (its lines read "VmHWM:  123456 kB"), 0 if missing.
double statusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':')
            return std::stod(line.substr(length + 1)) * 1024;
    return 0;
}

// Sets the peak resident memory (VmHWM) back to the present (Linux 4.0 on); false where it cannot.
bool resetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

// Where the tour looks at time t: a Lissajous path over the whole picture, zooming between the whole
// picture in the frame and one screen pixel per pixel and back, every 10 seconds.
zelvan::Placement tourPlacement(double t) {
    const double fitScale = static_cast<double>(kViewSide) / kLargeSide;
    const double zoom = 0.5 - 0.5 * std::cos(t * 2 * 3.14159265358979 / 10);  // 0 whole .. 1 at 1:1
    const double scale = fitScale * std::pow(1 / fitScale, zoom);
    // The picture point at the frame's centre, in pixels from the picture's centre.
    const double px = 0.45 * kLargeSide * std::sin(t * 0.37), py = 0.45 * kLargeSide * std::sin(t * 0.23);
    zelvan::Placement p;
    p.scaleX = p.scaleY = scale;
    p.centreX = kViewSide / 2.0 - px * scale;
    p.centreY = kViewSide / 2.0 + py * scale;
    return p;
}

void tour(benchmark::State& state, double seconds, std::size_t budget) {
    zelvan_support::ProceduralTiles source(kLargeSide, kLargeSide);
    zelvan::Library library;
    zelvan_support::setUpOrtho(kViewSide, kViewSide);
    double growth = 0, before = 0, frames = 0, complete = 0, residentMax = 0;
    bool reset = false, ok = true;
    for (auto _ : state) {
        reset = resetPeakMemory();
        before = statusBytes("VmRSS");
        const double start = now();
        {
            zelvan::TileViewOptions options;
            options.budgetBytes = budget;
            zelvan::TileView view(source, options);
            ok = bool(view);
            for (double t = 0; view && t < seconds; t = now() - start, ++frames) {
                view.place(tourPlacement(t));
                clearView();
                view.draw(viewFrame());
                glFinish();
                const zelvan::TileStats stats = view.stats();
                complete += stats.complete ? 1 : 0;
                residentMax = std::max(residentMax, static_cast<double>(stats.residentBytes));
            }
            growth = statusBytes("VmHWM") - before;
        }
        state.SetIterationTime(now() - start);
    }
    state.counters["x_allowance"] = growth / static_cast<double>(budget + 64 * kMiB);
    state.counters["peak_growth_mib"] = growth / kMiB;
    state.counters["rss_before_mib"] = before / kMiB;
    state.counters["budget_mib"] = static_cast<double>(budget) / kMiB;
    state.counters["resident_max_mib"] = residentMax / kMiB;
    state.counters["frames"] = frames;
    state.counters["complete_frames"] = complete;
    state.counters["peak_reset"] = reset ? 1 : 0;  // 0: VmHWM held an earlier peak, the growth may be low
    if (!ok) state.SkipWithError("the view refused the source");
}

}  // namespace

void registerTilesBenchmarks(const Pace& pace) {
    pace.apply(benchmark::RegisterBenchmark("tiles_first_frame/1000000_vs_2000", firstFrame), 3.0);
    setGoal("tiles_first_frame/", "small", 1.5);
    pace.apply(benchmark::RegisterBenchmark("tiles_first_frame_slow/20ms_reads", firstFrameSlowSource), 3.0);
    setGoal("tiles_first_frame_slow/", "one_worker", 0.5);
    pace.apply(benchmark::RegisterBenchmark("tiles_still/2000x2000_1to1", stillFrame, 1.0), 2.0);
    pace.apply(benchmark::RegisterBenchmark("tiles_still/2000x2000_fit", stillFrame,
                                            static_cast<double>(kViewSide) / kSmallSide),
               2.0);
    setGoal("tiles_still/", "pyramid", 1.1);
    setGoal("tiles_still/", "two_pass", 1.3);
    pace.apply(benchmark::RegisterBenchmark("tiles_passes/16_vs_3_fit", passesFrame), 2.0);
    setGoal("tiles_passes/", "three", 6.0);
    const double seconds = pace.quick && pace.tourSeconds == 0 ? 1.5
                           : pace.tourSeconds > 0              ? pace.tourSeconds
                                                               : 60;
    char name[48];
    std::snprintf(name, sizeof name, "tiles_tour/%gs", seconds);
    // One tour, however quick: its length is the parameter.
    benchmark::RegisterBenchmark(name, tour, seconds, 64 * kMiB)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    setGoal("tiles_tour/", "allowance", 1.0);
}

}  // namespace zelvan_bench
