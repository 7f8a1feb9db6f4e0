/*
 * Zelvan for C++: a scene, the shared home of many tile views (zelvan_tiles.hpp). It owns one texture
 * budget, one raw budget, one pool of worker threads and the tiles read; views made in it cost no thread
 * and a few KiB each.
 *
 *     zelvan::TileScene scene;  // 256 MiB of textures for all its views, at most 8 workers
 *     MySource picture, anotherPicture;   // zelvan::TileSource objects, outliving the views
 *     zelvan::TileView main(scene, picture), navigator(scene, picture), other(scene, anotherPicture);
 *     // each frame: place and draw each view shown, as a view made alone
 *
 * Sharing: views of one TileSource object in one scene share its levels, textures, raw samples, display
 * mapping (setMapping on one view shows on all) and reads: a tile is read once and uploaded once,
 * whichever view wants it. While a picture is shown by more than one view, no view of it draws a level
 * coarser than its pinned level (the one-tile level, which every view of it keeps), so a navigator
 * showing the whole picture reads nothing the main view has not read.
 *
 * Budget: every drawn view plans its levels within a share of the budget (left by the pinned levels)
 * proportional to the screen area it covers among the views drawn in the frame, at least a sixteenth: a
 * thumbnail never takes the budget from the main view. Room is made least recently drawn first, across
 * all pictures: tiles of views not drawn for a while go first.
 *
 * Order: one order for every read of the scene: pinned tiles, then the coarser level's, then the
 * finer's; among those, the screen pixels a tile covers in its view (at most the view's own), and its
 * nearness to its view's centre (TileRequest, zelvan_tiles_plan.hpp). A view not drawn for 4 frames (a
 * frame ends when a view draws a second time) has its reads cancelled, and its picture, if no view
 * draws it, lets its pinned tiles go when room is needed.
 *
 * Lifetime: destroying the scene while views exist is safe: the views keep what they need alive (the
 * workers end with the last of them). The sources must outlive their views.
 *
 * Threads: as the views: every member on the thread where the context is current; only the sources'
 * reads run on the workers. Nothing here throws.
 */
#ifndef ZELVAN_TILES_SCENE_HPP
#define ZELVAN_TILES_SCENE_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_levels.hpp"
#include "zelvan_tiles_options.hpp"
#include "zelvan_tiles_picture.hpp"
#include "zelvan_tiles_reader.hpp"

namespace zelvan {

class TileView;

namespace detail {
/* The worker threads for `asked` (TileSceneOptions::workers): 0 the hardware threads, 4 to 8; at most
 * the tiles a reader may hold, more would only wait. */
inline unsigned workersFor(unsigned asked) noexcept {
    if (asked == 0) asked = std::clamp(std::thread::hardware_concurrency(), 4u, 8u);
    return std::min(asked, static_cast<unsigned>(TileReader::kHeldTiles));
}

/* The scene's picture of `source`: the one its views show already, else a new one, its levels and
 * samples told and checked, with the source's own mapping. Null, `status` saying why, when they make no
 * sense or the source throws. Throws std::bad_alloc. */
inline std::shared_ptr<ScenePicture> pictureIn(const std::shared_ptr<SceneCore>& core, TileSource& source,
                                               const TileViewOptions& options, TileViewStatus& status) {
    for (ScenePicture* p : core->pictures())
        if (p->source() == &source) return p->shared_from_this();
    std::vector<TileSize> levels;
    status = TileViewStatus::SourceFailed;
    levels.resize(std::min(source.levelCount(), zelvan::kMaxLevels + 1));
    for (std::size_t k = 0; k < levels.size(); ++k) levels[k] = source.levelSize(k);
    const SampleLayout layout = source.sampleLayout();
    status = TileViewStatus::OutOfMemory;
    if (!levelsMakeSense(levels)) {
        status = TileViewStatus::BadLevels;
        return nullptr;
    }
    if (checkLayout(layout) != nullptr) {
        status = TileViewStatus::BadSamples;
        return nullptr;
    }
    auto picture = std::make_shared<ScenePicture>(core, source, levels, layout, options);
    if (layout.type != SampleType::Bgra8) {
        try {
            const DisplayMapping own = source.displayMapping();
            if (!own.channels.empty() && own.validate(layout).empty())
                picture->arrivals().setMapping(own, nullptr);
        } catch (...) {  // the source's mapping cannot be had: the default stays
        }
    }
    return picture;
}
}  // namespace detail

class TileScene {
public:
    /* A scene of no view yet; its workers start now and wait. Empty (operator bool false) without a library
     * instance or out of memory: views made in an empty scene are empty (status NoLibrary or OutOfMemory).
     * OpenGL: context current (an Image is made to check the instance). Cost: the workers' start. */
    explicit TileScene(const TileSceneOptions& options = {}) noexcept {
        try {
            Image probe(1, 1);
            if (probe)
                core_ = std::make_shared<detail::SceneCore>(options, detail::workersFor(options.workers));
        } catch (...) {  // std::bad_alloc: an empty scene
        }
    }
    /* Its views keep what they need: they go on drawing after the scene is destroyed. */
    ~TileScene() = default;
    TileScene(TileScene&&) noexcept = default;
    TileScene& operator=(TileScene&&) noexcept = default;
    TileScene(const TileScene&) = delete;
    TileScene& operator=(const TileScene&) = delete;

    /* True when views can be made in it. */
    explicit operator bool() const noexcept { return core_ != nullptr; }

    /* A new texture budget in bytes for all the views together (TileSceneOptions::budgetBytes), which may
     * choose other pinned levels; the next draw evicts down to it. Out of memory the pinned levels stay as
     * they were. Cost: each picture's levels counted. */
    void setBudget(std::size_t bytes) noexcept {
        try {
            if (core_) core_->setBudget(bytes);
        } catch (...) {  // std::bad_alloc: the pinned levels stay as they were
        }
    }
    /* Typed pictures' raw samples, all pictures together, within `bytes` from now on; least recently
     * wanted evicted at once. Cost: the evictions. */
    void setRawBudget(std::size_t bytes) noexcept {
        if (core_) core_->setRawBudget(bytes);
    }

    /* What the scene holds now (TileSceneStats says what each counts); all zero for an empty scene.
     * Threads: the drawing thread. Cost: a pass over the pictures, a lock of the workers' queue. */
    TileSceneStats stats() const noexcept {
        TileSceneStats s;
        if (!core_) return s;
        s.residentBytes = core_->textures().residentBytes();
        s.views = core_->views();
        s.pictures = core_->pictures().size();
        s.threads = core_->pool()->threads();
        for (detail::ScenePicture* p : core_->pictures()) {
            s.tilesResident += p->cache().size();
            s.uploads += p->cache().counts().uploads;
            s.readsPending += p->arrivals().reader().pending();
        }
        std::lock_guard<std::mutex> lock(core_->pool()->mutex());
        s.requests = core_->pool()->started();
        return s;
    }

private:
    friend class TileView;
    std::shared_ptr<detail::SceneCore> core_;
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_SCENE_HPP */
