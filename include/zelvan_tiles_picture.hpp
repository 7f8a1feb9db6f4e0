/*
 * The inside of a scene of tile views (zelvan_tiles_scene.hpp): what all its views share (SceneCore: the
 * texture and raw budgets, the workers, the frame clock, each view's share of the budget) and what the
 * views of one picture share (ScenePicture: its grid, cache, raw tiles, mapping and reader, whose queue
 * holds what all its views lack). Views (zelvan_tiles_view_state.hpp) use them; not for use on their own.
 *
 * Threads: the drawing thread, but for the reads the pool's workers make. Header-only C++17.
 */
#ifndef ZELVAN_TILES_PICTURE_HPP
#define ZELVAN_TILES_PICTURE_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan_tiles_arrivals.hpp"
#include "zelvan_tiles_cache.hpp"
#include "zelvan_tiles_grid.hpp"
#include "zelvan_tiles_options.hpp"
#include "zelvan_tiles_pool.hpp"
#include "zelvan_tiles_raw.hpp"
#include "zelvan_tiles_source.hpp"

namespace zelvan {
namespace detail {

class ScenePicture;

/* Frames a view may go undrawn before its reads are cancelled and its pinned tiles may go. */
constexpr std::uint64_t kIdleFrames = 4;
/* The least share of the budget a drawn view plans within, whatever its size (less when more views are
 * drawn: never more than an even split, so that the shares never add up to much over the whole). */
constexpr double kLeastShare = 1.0 / 16;

class SceneCore {
public:
    /* `workers` as TileSceneOptions::workers says; none: reads made on the drawing thread. */
    SceneCore(const TileSceneOptions& options, unsigned workers)
        : options_(options), raw_(options.rawBudgetBytes) {
        pool_ = std::make_shared<ReadPool>();
        if (!pool_->start(workers)) throw std::bad_alloc();
    }
    SceneCore(const SceneCore&) = delete;
    SceneCore& operator=(const SceneCore&) = delete;

    const TileSceneOptions& options() const noexcept { return options_; }
    TextureBudget& textures() noexcept { return textures_; }
    RawBudget& raw() noexcept { return raw_; }
    const std::shared_ptr<ReadPool>& pool() const noexcept { return pool_; }
    std::vector<ScenePicture*>& pictures() noexcept { return pictures_; }
    std::size_t& views() noexcept { return views_; }

    void setBudget(std::size_t bytes);
    void setRawBudget(std::size_t bytes) noexcept {
        options_.rawBudgetBytes = bytes;
        raw_.setBudget(bytes);
    }

    /* The frame a view drawing now draws in: a new one when the view drew in this one already (every view
     * draws once a frame), `last` being the view's last. */
    std::uint64_t frameFor(std::uint64_t& last) {
        if (last == clock_) tick();
        return last = clock_;
    }
    /* A frame of its own (a view's wait for a complete frame). */
    std::uint64_t newFrame(std::uint64_t& last) {
        tick();
        return last = clock_;
    }
    std::uint64_t clock() const noexcept { return clock_; }

    /* The share of the budget a view drawn on `area` screen pixels plans within: its part of the screen the
     * scene's views cover, at least kLeastShare. A view planning again in the same frame (waiting for it
     * to be complete) is `counted` already: its area is not added twice. */
    double shareOf(double area, bool counted) noexcept {
        if (!(area > 0) || !std::isfinite(area)) area = 1;
        if (!counted) {
            areaThisFrame_ += area;
            ++viewsThisFrame_;
        }
        const double total = std::max(areaLastFrame_, areaThisFrame_);
        const double least = std::min(kLeastShare, 1.0 / double(std::max(viewsLastFrame_, viewsThisFrame_)));
        return std::clamp(area / total, least, 1.0);
    }
    /* Pinned bytes of the pictures drawn lately. */
    std::size_t pinnedBytes() const;

private:
    void tick();

    TileSceneOptions options_;
    TextureBudget textures_;
    RawBudget raw_;
    std::vector<ScenePicture*> pictures_;
    std::size_t views_ = 0;
    std::uint64_t clock_ = 1;
    double areaThisFrame_ = 0, areaLastFrame_ = 0;  // screen pixels of the views drawn
    std::size_t viewsThisFrame_ = 0, viewsLastFrame_ = 0;
    std::shared_ptr<ReadPool> pool_;  // last: the workers end before what their reads reach goes
};

class ScenePicture : public std::enable_shared_from_this<ScenePicture> {
public:
    /* A picture of `source` in `scene`, its reader joined to the scene's workers. Throws std::bad_alloc;
     * reads nothing yet. */
    ScenePicture(std::shared_ptr<SceneCore> scene, TileSource& source, const std::vector<TileSize>& levels,
                 const SampleLayout& layout, const TileViewOptions& options)
        : scene_(std::move(scene)),
          source_(&source),
          grid_(levels),
          options_(options),
          cache_(grid_, scene_->textures()),
          arrivals_(grid_, cache_, options_, layout, scene_->raw()) {
        options_.budgetBytes = scene_->options().budgetBytes;
        pictures_ = scene_->pictures().size() + 1;
        choosePinned();
        scene_->pictures().push_back(this);
        if (!arrivals_.reader().start(source, scene_->pool(), layout)) {
            scene_->pictures().pop_back();
            throw std::bad_alloc();
        }
    }
    ~ScenePicture() {
        arrivals_.reader().stop();
        auto& all = scene_->pictures();
        all.erase(std::remove(all.begin(), all.end(), this), all.end());
    }
    ScenePicture(const ScenePicture&) = delete;
    ScenePicture& operator=(const ScenePicture&) = delete;

    SceneCore& scene() noexcept { return *scene_; }
    const TileSource* source() const noexcept { return source_; }
    const LevelGrid& grid() const noexcept { return grid_; }
    TileCache& cache() noexcept { return cache_; }
    TileArrivals& arrivals() noexcept { return arrivals_; }
    const TileViewOptions& options() const noexcept { return options_; }
    void setBudget(std::size_t bytes) {
        options_.budgetBytes = bytes;
        choosePinned();
    }

    // ---- the views showing it ----

    /* A view joins (throws std::bad_alloc) or leaves; what it asked for goes with it. */
    void join(const void* view) { views_.push_back({view, 0, nullptr, nullptr}); }
    void leave(const void* view) noexcept {
        views_.erase(
            std::remove_if(views_.begin(), views_.end(), [view](const Wants& w) { return w.view == view; }),
            views_.end());
        try {
            requeue();
        } catch (...) {  // std::bad_alloc: the reads stay queued until the next view asks
        }
    }
    /* Views made and not destroyed. */
    std::size_t viewCount() const noexcept { return views_.size(); }
    /* Views lately drawn (idle ones left out). */
    std::size_t shownBy() const noexcept {
        return static_cast<std::size_t>(std::count_if(views_.begin(), views_.end(),
                                                      [](const Wants& w) { return w.requests != nullptr; }));
    }
    bool idle() const noexcept { return shownBy() == 0; }

    /* What a view asks for in frame `frame` (its requests and every tile it wants, which it keeps until it
     * asks again or leaves) joins what the others ask for, and becomes the reader's queue. */
    void asked(const void* view, std::uint64_t frame, const std::vector<TileRequest>& requests,
               const std::unordered_set<std::uint64_t>& wanted) {
        for (Wants& w : views_)
            if (w.view == view) w = {view, frame, &requests, &wanted};
        cache_.setIdle(false);
        requeue();
    }
    /* The tiles the other views drawn lately want (null: none), for `view`'s intake not to drop them. */
    const std::unordered_set<std::uint64_t>* othersWant(const void* view) const noexcept {
        const Wants* other = nullptr;
        std::size_t others = 0;
        for (const Wants& w : views_)
            if (w.wanted != nullptr && w.view != view) other = &w, ++others;
        if (others == 0) return nullptr;
        return others == 1 ? other->wanted : &wantedByAll_;  // two others: at least two shown, the union
    }

    /* A new frame: views not drawn for kIdleFrames frames stop asking (their reads are cancelled) and a
     * picture none draws lets its pinned tiles go when room is needed. */
    void sweep(std::uint64_t clock) {
        bool changed = false;
        for (Wants& w : views_)
            if (w.requests != nullptr && w.frame + kIdleFrames < clock) {
                w.requests = nullptr;
                w.wanted = nullptr;
                changed = true;
            }
        if (!changed) return;
        if (idle()) {
            cache_.setIdle(true);
            arrivals_.stop();  // the tiles read and waiting go back, the reads under way are cancelled
        } else {
            requeue();
        }
    }

private:
    struct Wants {
        const void* view;
        std::uint64_t frame;
        const std::vector<TileRequest>* requests;  // null: not drawn lately
        const std::unordered_set<std::uint64_t>* wanted;
    };

    /* The pinned level within a quarter of the budget shared by the pictures shown when it came. */
    void choosePinned() { cache_.choosePinned(options_.standIns ? options_.budgetBytes / pictures_ : 0); }

    /* The reader's queue made of every view's requests, each tile once, and its reads kept for every
     * tile a view wants. */
    void requeue() {
        merged_.clear();
        const Wants* only = nullptr;
        for (const Wants& w : views_)
            if (w.requests != nullptr) {
                merged_.insert(merged_.end(), w.requests->begin(), w.requests->end());
                only = &w;
            }
        wantedByAll_.clear();
        if (shownBy() == 1) {
            arrivals_.queue(merged_, *only->wanted);
            return;
        }
        for (const Wants& w : views_)
            if (w.wanted != nullptr) wantedByAll_.insert(w.wanted->begin(), w.wanted->end());
        // The most urgent of each tile's requests first, then each tile once.
        std::sort(merged_.begin(), merged_.end(), moreUrgent);
        seen_.clear();
        merged_.erase(
            std::remove_if(merged_.begin(), merged_.end(),
                           [this](const TileRequest& r) { return !seen_.insert(tileKey(r.tile)).second; }),
            merged_.end());
        arrivals_.queue(merged_, wantedByAll_);
    }

    std::shared_ptr<SceneCore> scene_;
    TileSource* source_;
    LevelGrid grid_;
    TileViewOptions options_;
    std::size_t pictures_ = 1;  // the scene's pictures when it came, itself included
    TileCache cache_;
    std::vector<Wants> views_;
    std::vector<TileRequest> merged_;
    std::unordered_set<std::uint64_t> wantedByAll_, seen_;
    TileArrivals arrivals_;  // last: its reader stops before anything its reads might reach goes
};

inline void SceneCore::tick() {
    ++clock_;
    areaLastFrame_ = areaThisFrame_;
    areaThisFrame_ = 0;
    viewsLastFrame_ = viewsThisFrame_;
    viewsThisFrame_ = 0;
    for (ScenePicture* p : pictures_) p->sweep(clock_);
}

inline std::size_t SceneCore::pinnedBytes() const {
    std::size_t bytes = 0;
    for (ScenePicture* p : pictures_)
        if (!p->idle() || p->cache().pinnedResident()) bytes += p->cache().pinnedBytes();
    return bytes;
}

inline void SceneCore::setBudget(std::size_t bytes) {
    options_.budgetBytes = bytes;
    for (ScenePicture* p : pictures_) p->setBudget(bytes);
}

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_PICTURE_HPP */
