/*
 * Zelvan for C++: the inside of a tile view (zelvan_tiles.hpp), what one frame does: plans the levels and
 * tiles it wants (zelvan_tiles_plan.hpp), takes the tiles read and uploads them within the frame's
 * allowance (zelvan_tiles_arrivals.hpp), draws them, finer over coarser (zelvan_tiles_layers.hpp), and
 * asks for what is still missing. Its picture (zelvan_tiles_picture.hpp: grid, cache, raw tiles, reader) may
 * be shared with other views of the same source in its scene. TileView calls it; not for use on its own.
 *
 * Header-only C++17.
 */
#ifndef ZELVAN_TILES_VIEW_STATE_HPP
#define ZELVAN_TILES_VIEW_STATE_HPP

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_mapping.hpp"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_tiles_arrivals.hpp"
#include "zelvan_tiles_cache.hpp"
#include "zelvan_tiles_grid.hpp"
#include "zelvan_tiles_layers.hpp"
#include "zelvan_tiles_options.hpp"
#include "zelvan_tiles_picture.hpp"
#include "zelvan_tiles_plan.hpp"
#include "zelvan_tiles_raw.hpp"

namespace zelvan {
namespace detail {

/* The time `timeout` from now, a timeout too long to count being as good as forever. */
inline Clock::time_point deadlineAfter(std::chrono::milliseconds timeout) noexcept {
    const std::chrono::milliseconds longest = std::chrono::hours(24 * 365 * 100);
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                              std::clamp(timeout, std::chrono::milliseconds(0), longest));
}

class ViewState {
public:
    /* The view's inside, showing `picture` (which it joins). `probe` names an image of the library
     * instance the view was made in. Throws std::bad_alloc. */
    ViewState(std::shared_ptr<ScenePicture> picture, const TileViewOptions& options, Image probe)
        : picture_(std::move(picture)),
          grid_(picture_->grid()),
          cache_(picture_->cache()),
          arrivals_(picture_->arrivals()),
          scene_(picture_->scene()),
          options_(options),
          probe_(std::move(probe)),
          painter_(grid_, cache_) {
        picture_->join(this);
        ++scene_.views();
    }
    ~ViewState() {
        --scene_.views();
        picture_->leave(this);
    }
    ViewState(const ViewState&) = delete;
    ViewState& operator=(const ViewState&) = delete;

    /* Asks for the pinned level at once (a view made alone; one in a scene waits for its first draw). */
    void start() { requestPinned(); }

    /* Whether the library instance the view was made in is still there. */
    bool alive() const noexcept { return static_cast<bool>(probe_); }
    /* The instance has ended: its textures are forgotten (it took them) and reads stop. */
    void forgetLibrary() noexcept {
        if (cache_.size() == 0 && arrivals_.reader().pending() == 0) return;
        cache_.clear();
        arrivals_.stop();
    }

    TileSize full() const noexcept { return grid_.full(); }
    void place(const Placement& placement) noexcept { placement_ = placement; }
    const Placement& placement() const noexcept { return placement_; }
    bool ready() const { return cache_.pinning() ? cache_.pinnedResident() : everComplete_; }
    const SampleLayout& layout() const noexcept { return arrivals_.layout(); }
    const DisplayMapping& mapping() const noexcept { return arrivals_.mapping(); }
    bool setMapping(const DisplayMapping& mapping, std::string* reason) {
        return arrivals_.setMapping(mapping, reason);
    }
    void channelValues(unsigned channel, ChannelValues& out) const {
        detail::channelValues(arrivals_.raw(), grid_, arrivals_.layout(), channel, out);
    }

    void setBudget(std::size_t bytes) { scene_.setBudget(bytes); }
    void setRawBudget(std::size_t bytes) noexcept { scene_.setRawBudget(bytes); }
    void setPasses(int passes) noexcept { options_.passes = std::clamp(passes, 1, detail::kMaxPasses); }
    void invalidate(const Area& area) {
        cache_.invalidate(area);
        arrivals_.raw().invalidate(grid_, area);
    }
    void retryGivenUp() noexcept { cache_.retryGivenUp(); }

    void draw(const Frame& frame) {
        if (!drawn_ && options_.firstDrawWait.count() > 0) waitUntilReady(options_.firstDrawWait);
        frameNumber_ = scene_.frameFor(lastFrame_);
        const Clock::time_point now = Clock::now();
        drawn_ = true;
        motionLevels_ = motionLevels(frame, now);
        plan(frame);
        const FrameWants w = wants(frame, now);
        const std::size_t share =
            std::min(options_.uploadBytesPerFrame, scene_.options().uploadBytesPerFrame);
        const std::size_t uploaded = arrivals_.take(w, share);
        arrivals_.remap(w, uploaded, share);
        painter_.draw(plan_, placement_, frame, wanted_, frameNumber_, options_.passes);
        const bool complete = frameComplete(plan_, cache_, arrivals_.mappingNumber(), readsCoarser());
        ask(w);

        const LevelChoice& choice = plan_.choice;
        stats_.level = choice.blend.finer;
        stats_.coarserLevel = choice.blend.coarser;
        stats_.scaleLevel = plan_.scaleLevel;
        stats_.budgetLimited = choice.limited || !choice.fits;
        stats_.complete = complete;
        everComplete_ = everComplete_ || complete;
    }

    /* Uploads the pinned level as it comes, until it is all resident or `timeout` has passed. */
    bool waitUntilReady(std::chrono::milliseconds timeout) {
        if (!cache_.pinning()) return ready();  // nothing to wait for but frames
        const Clock::time_point deadline = deadlineAfter(timeout);
        requestPinned();
        for (;;) {
            arrivals_.take(pinnedWants(), SIZE_MAX);
            if (ready()) return true;
            if (Clock::now() >= deadline) return false;
            if (arrivals_.reader().threaded()) {
                arrivals_.reader().waitForArrival(deadline);
            } else if (!arrivals_.reader().coming()) {
                requestPinned();  // what failed may be asked for again
                if (!arrivals_.reader().coming()) return false;
            }
        }
    }

    /* Plans `frame` as draw would, asks for its reads and uploads them as they come, until the next draw of
     * it will be complete (true), nothing it lacks is still to come (its reads failed or were given up),
     * or `timeout` has passed. */
    bool waitUntilComplete(const Frame& frame, std::chrono::milliseconds timeout) {
        const Clock::time_point deadline = deadlineAfter(timeout);
        frameNumber_ = scene_.newFrame(lastFrame_);  // not evicted by the next draw
        motionLevels_ = 0;                           // the frame at rest
        for (;;) {
            plan(frame);
            const FrameWants w = wants(frame, Clock::now());
            const std::uint64_t before = progress();
            arrivals_.take(w, SIZE_MAX);
            arrivals_.remap(w, 0, SIZE_MAX);
            const bool complete = frameComplete(plan_, cache_, arrivals_.mappingNumber(), readsCoarser());
            ask(w);
            if (complete) return true;
            if (!plan_.choice.fits || !arrivals_.reader().coming() || Clock::now() >= deadline) return false;
            if (arrivals_.reader().threaded())
                arrivals_.reader().waitForArrival(deadline);
            else if (progress() == before)
                return false;  // read here, and nothing read nor uploaded: no room for what waits
        }
    }

    /* The counts for TileView::stats. */
    TileStats stats() {
        TileStats s = stats_;
        const TileCache::Counts& c = cache_.counts();
        s.uploads = c.uploads;
        s.readsFailed = c.readsFailed;
        s.readsGivenUp = c.readsGivenUp;
        const TileReader::Counts reads = arrivals_.reader().counts();
        s.requests = reads.started;
        s.readsCancelled = reads.cancelled;
        s.readsPending = reads.pending;
        s.rawBytes = arrivals_.raw().bytes();
        s.rawTiles = arrivals_.raw().size();
        if (!alive()) return s;  // the library has ended: nothing resident
        s.residentBytes = cache_.residentBytes();
        s.tilesResident = cache_.size();
        s.ready = ready();
        try {
            cache_.givenUp(s.givenUp, Clock::now());
        } catch (...) {  // std::bad_alloc: the list stays empty
        }
        return s;
    }

private:
    /* Grows with every read started, failed or uploaded. */
    std::uint64_t progress() {
        return cache_.counts().uploads + cache_.counts().readsFailed + arrivals_.reader().counts().started;
    }
    /* Asks for what the frame lacks, with what the picture's other views lack. */
    void ask(const FrameWants& w) {
        requests_.clear();
        arrivals_.ask(w, requests_);
        picture_->asked(this, frameNumber_, requests_, wanted_);
    }
    /* Whether the frame's coarser level is read: always when it is the level shown; when it only stands
     * in where the finer one is missing, as the options say. */
    bool readsCoarser() const {
        return options_.standIns || plan_.choice.blend.finer == plan_.choice.blend.coarser;
    }

    /* Plans a frame within half its share of the budget left by the pinned levels (room for the frame
     * before, and for coarser stand-ins), and marks the tiles it wants: the pinned level's, then the
     * coarser and finer levels'. Those resident are marked drawn, so that making room never evicts them.
     * The share: the view's part of the screen the scene's views cover (all of it for a view alone). A
     * picture shown by other views too draws no level coarser than its pinned one, which it has. */
    void plan(const Frame& frame) {
        const std::size_t limit = scene_.options().budgetBytes, pinned = scene_.pinnedBytes();
        if (scene_.textures().residentBytes() > limit) scene_.textures().shrinkTo(limit);
        const double ppu = frame.pixelsPerUnit;
        const double area = std::fabs((frame.right - frame.left) * (frame.top - frame.bottom)) * ppu * ppu;
        const double share = scene_.shareOf(area, sharedIn_ == frameNumber_);
        sharedIn_ = frameNumber_;
        // The share of the room, as a double only below it: a budget near SIZE_MAX has no double.
        const std::size_t room = limit > pinned ? limit - pinned : 0;
        const double part = double(room) * share;
        const std::size_t budget = part >= double(room) ? room : static_cast<std::size_t>(part);
        const bool shared = picture_->viewCount() > 1 && cache_.pinning();
        planFrame(placement_, grid_, frame, budget / 2, plan_,
                  shared ? cache_.pinnedLevel() + 1 : grid_.count(), motionLevels_);
        pinned_.clear();
        cache_.pinnedTiles(pinned_);
        wanted_.clear();
        for (const auto* list : {&plan_.coarse, &plan_.fine, &pinned_}) {
            if (list == &plan_.coarse && !readsCoarser()) continue;
            for (const TileIndex& t : *list) {
                const std::uint64_t key = tileKey(t);
                wanted_.insert(key);
                if (TileCache::Tile* tile = cache_.find(key)) tile->lastDrawn = frameNumber_;
                arrivals_.raw().touch(key, frameNumber_);
            }
        }
    }
    /* How many levels coarser than its scale asks a frame is planned while the view moves faster than its
     * tiles come (TileViewOptions::followMotion): none while a read's travel is within three quarters of
     * the frame's shorter side (and half a tile's side), else the finest level whose tile's side is more
     * than twice the travel. Motion is the picture's centre on screen between this draw and the one
     * before, if that was within a quarter of a second; it counts only when the draw before moved too (a
     * jump is not a fling). */
    std::size_t motionLevels(const Frame& frame, Clock::time_point now) {
        const double ppu = std::fabs(frame.pixelsPerUnit);
        const double x = placement_.centreX * ppu, y = placement_.centreY * ppu;
        const double seconds = std::chrono::duration<double>(now - movedAt_).count();
        double speed = 0;  // screen pixels a second
        if (movedAt_ != Clock::time_point{} && seconds > 0 && seconds < 0.25)
            speed = std::hypot(x - movedX_, y - movedY_) / seconds;
        const double moving = std::min(speed, lastSpeed_);
        movedAt_ = now, movedX_ = x, movedY_ = y, lastSpeed_ = speed;
        const double travel = moving * arrivals_.reader().typicalReadSeconds();
        // Below most of the frame's shorter side, most tiles asked for now are still in view when they come:
        // a gliding view reads its scale's level well before it stops.
        const double shorterSide =
            std::min(std::fabs(frame.right - frame.left), std::fabs(frame.top - frame.bottom)) * ppu;
        if (!options_.followMotion || !(travel > std::max(kTileSide / 2.0, 0.75 * shorterSide))) return 0;
        return static_cast<std::size_t>(std::min(32.0, std::ceil(std::log2(travel * 2 / kTileSide))));
    }

    FrameWants wants(const Frame& frame, Clock::time_point now) const {
        return {frame,      PictureMap::of(placement_, grid_.full()),
                now,        frameNumber_,
                pinned_,    plan_.coarse,
                plan_.fine, readsCoarser(),
                wanted_,    picture_->othersWant(this)};
    }

    /* Asks for the pinned level alone: at construction, and when waiting for it. */
    FrameWants pinnedWants() {
        if (lastFrame_ == 0) frameNumber_ = scene_.frameFor(lastFrame_);
        pinned_.clear();
        cache_.pinnedTiles(pinned_);
        for (const TileIndex& t : pinned_) wanted_.insert(tileKey(t));
        return {noFrame_,     PictureMap::of(placement_, grid_.full()),
                Clock::now(), frameNumber_,
                pinned_,      none_,
                none_,        false,
                wanted_,      picture_->othersWant(this)};
    }
    void requestPinned() { ask(pinnedWants()); }

    const Frame noFrame_{};
    const std::vector<TileIndex> none_;

    std::shared_ptr<ScenePicture> picture_;  // first: what follows refers to it
    const LevelGrid& grid_;
    TileCache& cache_;
    TileArrivals& arrivals_;
    SceneCore& scene_;
    TileViewOptions options_;
    Placement placement_;
    Image probe_;                                    // names nothing once the library instance has ended
    std::uint64_t frameNumber_ = 0, lastFrame_ = 0;  // the scene's frames
    std::uint64_t sharedIn_ = 0;                     // the frame whose share counts this view's area
    // The view's motion on screen (motionLevels): the last draw's time, the picture's centre then in
    // screen pixels, its speed then, and how many levels coarser the frame is planned for it.
    Clock::time_point movedAt_{};
    double movedX_ = 0, movedY_ = 0, lastSpeed_ = 0;
    std::size_t motionLevels_ = 0;
    TileStats stats_;
    bool drawn_ = false, everComplete_ = false;
    // Per frame, kept to reuse their memory.
    FramePlan plan_;
    std::vector<TileIndex> pinned_;
    std::unordered_set<std::uint64_t> wanted_;
    std::vector<TileRequest> requests_;
    LayerPainter painter_;
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_VIEW_STATE_HPP */
