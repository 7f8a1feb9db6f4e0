/*
 * Zelvan for C++: a tile view, for pictures of any size (up to 2^32 - 1 pixels a side). The picture's
 * pixels stay with the caller's TileSource (zelvan_tiles_source.hpp); the view reads, on worker threads,
 * only the tiles a frame needs, keeps their textures within a budget and draws them with the fourteen
 * functions of zelvan.h, as Zelvan images placed part by part.
 *
 *     zelvan::Library library;
 *     MySource source;                              // a zelvan::TileSource, outliving the view
 *     zelvan::TileView view(source);
 *     view.waitUntilReady(std::chrono::milliseconds(500));   // optional: the first frame not blank
 *     view.place(zelvan::fit(view.width(), view.height(), 800, 600));
 *     view.draw({0, 0, 800, 600, 1});               // once per frame, under glOrtho(0, 800, 0, 600, ...)
 * A still frame (a headless renderer): waitUntilComplete(frame, timeout), then one draw(frame).
 *
 * docs/using.md ("The tile view") tells the whole contract; each member below says what it does, its
 * units, its null result, its thread and its cost.
 *
 * Levels drawn: the two nearest the scale on screen (zelvan_levels.hpp's rule), drawn as Pyramid draws
 * them (the finer three times, a third pixel apart, or TileViewOptions::passes times, the passes together
 * at the placement's opacity; the coarser only where the finer is missing); at scale >= 1 level 0 alone,
 * pixel for pixel. When the two would need more than half the budget (room for the frame before and for
 * stand-ins), the coarser alone, then coarser levels still: a view too large for its budget draws blurred,
 * never thrashing. TileStats says which, and whether the budget forced it.
 *
 * While tiles load: the one-tile level (the finest whose sides both fit 512 pixels, or, when its
 * textures exceed a quarter of the budget, the finest coarser level within it) is read first and kept
 * resident (pinned, unless TileViewOptions::standIns is false); a missing tile is drawn from the nearest
 * resident coarser level, cropped to its area. Once the pinned level is resident no frame shows the
 * background inside the picture. Opaque pictures are watertight at any angle: each part reaches a thousandth
 * of a pixel over the next one drawn after it, so that float rounding leaves no crack. A translucent picture
 * leaves out a finer part that a coarser stand-in covers, so that nothing blends twice; an invalidated tile
 * is drawn until its new pixels are uploaded.
 *
 * Memory, textures: within budgetBytes after every draw, counted as the library allocates them. A tile
 * is held as parts: its quarters of 256 x 256, each a texture of power-of-two sides, 4 bytes a texel, so
 * an inner tile costs 4 x 256 x 256 x 4 = 1 MiB and a tile at a level's right or bottom edge its parts'
 * sides rounded up (a quarter 134 wide costs 256); where a level's last texel column (row) is not 2^k
 * level-0 pixels wide (level k of a side that is no multiple of 2^k: cut short at the picture's edge, or
 * stretched to reach it), that column (row) is a strip of its own, one texel wide, so the 391 x 391
 * level 7 of a 50000 x 50000 picture costs (256 + 256 + 1)^2 x 4 bytes, a little over 1 MiB. Typed pictures'
 * textures cost the same. The pinned level stays resident; a frame plans its levels within half of the rest.
 * At most uploadBytesPerFrame of textures are made per draw (at least one tile). Memory, reads: each tile
 * read is held in a buffer of 512 x 512 x the pixel's bytes (4 for colours, channels x sample bytes for typed
 * pictures: 2 MiB for four 16-bit channels); at most min(8, 64 MiB / that) buffers (at least 1), kept and
 * reused for the view's life. Typed pictures add the raw tiles (within rawBudgetBytes), one tile of texels (1
 * MiB) and the mapping's tables. On glibc, textures freed and made as the view moves can leave the heap
 * fragmented; a long-running viewer keeps its memory nearer the budget with mallopt(M_MMAP_THRESHOLD, 128 *
 * 1024), which the benchmark measures (docs/performance.md).
 *
 * Threads: every member is called on the thread where the context is current; only the source's reads
 * run elsewhere, on the view's workers (or, with readOnDrawingThread, inside draw()). Link with the
 * thread library (CMake: Zelvan::tiles). Nothing here throws; running out of memory leaves the view
 * empty or drawing less for a frame.
 *
 * Typed pictures (TileSource::sampleLayout other than colours): tiles are kept raw, within rawBudgetBytes,
 * and become texels through the view's DisplayMapping as they are uploaded. setMapping() makes the
 * visible tiles anew from the raw ones, coarse levels first, within the per-frame upload allowance, each
 * drawn with its old texels until its new ones are in: no read, no blank. docs/scientific.md tells more.
 *
 * Lifetime: the source must outlive the view. A view that outlives its Library (or the instance it was
 * made in) draws nothing, reports nothing resident, and never touches a later instance.
 *
 * Many views: views made in one TileScene (zelvan_tiles_scene.hpp) share its budgets, its workers and,
 * for one source object, its tiles; what is said above of a view's budget, workers and buffers is then
 * said of the scene's. A view made alone has a scene of its own, made of its options.
 */
#ifndef ZELVAN_TILES_HPP
#define ZELVAN_TILES_HPP

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "zelvan.hpp"
#include "zelvan_mapping.hpp"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_tiles_options.hpp"
#include "zelvan_tiles_scene.hpp"
#include "zelvan_tiles_source.hpp"
#include "zelvan_tiles_types.hpp"
#include "zelvan_tiles_view_state.hpp"

namespace zelvan {

class TileView {
public:
    /* An empty view (status Empty): every member accepts calls and does nothing. */
    TileView() noexcept = default;

    /*
     * A view of `source`, which must outlive it. Reads the source's levels (levelCount, levelSize) and
     * starts the workers, which begin at once on the one-tile level. Empty (operator bool false, status()
     * says why) without a library instance, with levels that make no sense, when the source throws, or
     * out of memory.
     * OpenGL: context current (an Image is made to check the instance). Cost: the workers' start, and
     * the reader's buffers as reads need them (see Memory above).
     */
    explicit TileView(TileSource& source, const TileViewOptions& options = {}) noexcept {
        TileSceneOptions own;
        own.budgetBytes = options.budgetBytes;
        own.rawBudgetBytes = options.rawBudgetBytes;
        own.uploadBytesPerFrame = options.uploadBytesPerFrame;
        open(nullptr, source, options, options.readOnDrawingThread ? 0 : detail::workersFor(options.workers),
             own);
    }

    /*
     * A view of `source` in `scene` (zelvan_tiles_scene.hpp), which it shares with the scene's other
     * views: the scene's budgets and workers are its own (options.budgetBytes, rawBudgetBytes, workers and
     * readOnDrawingThread are not used), and views of the same source object share its tiles, reads and
     * mapping. Reads nothing until drawn (or waitUntilReady). Empty as the other constructor says, and
     * for an empty scene (NoLibrary). The scene may be destroyed before the view.
     * OpenGL: context current. Cost: no thread; a few KiB, and the source's levels told the first time
     * the scene shows it.
     */
    TileView(TileScene& scene, TileSource& source, const TileViewOptions& options = {}) noexcept {
        if (!scene) {
            status_ = TileViewStatus::NoLibrary;
            return;
        }
        open(scene.core_, source, options, 0, {});
    }

    /* Cancels the reads under way and waits for them to return; releases the textures (in a scene, what
     * no other view of its picture wants: the picture's tiles stay for the others, and go with the last).
     * OpenGL: the context that owns the textures current. */
    ~TileView() = default;
    /* Moves the view; the one moved from is empty (status Empty). */
    TileView(TileView&& other) noexcept
        : state_(std::move(other.state_)), status_(std::exchange(other.status_, TileViewStatus::Empty)) {}
    TileView& operator=(TileView&& other) noexcept {
        if (this != &other) {
            state_ = std::move(other.state_);
            status_ = std::exchange(other.status_, TileViewStatus::Empty);
        }
        return *this;
    }
    TileView(const TileView&) = delete;
    TileView& operator=(const TileView&) = delete;

    /* True when the view can draw: status() is Ready. Cost: an image lookup in the library. */
    explicit operator bool() const noexcept { return status() == TileViewStatus::Ready; }
    /* Why the view is empty, or Ready (LibraryGone once its library instance has ended). */
    TileViewStatus status() const noexcept {
        if (state_ && !state_->alive()) return TileViewStatus::LibraryGone;
        return status_;
    }
    /* Level 0's size in pixels; 0 when empty. */
    std::uint32_t width() const noexcept { return state_ ? state_->full().width : 0; }
    std::uint32_t height() const noexcept { return state_ ? state_->full().height : 0; }

    /* Places the picture by its centre (as Image::place): units of the caller's projection, degrees,
     * opacity 0 to 255. Takes effect at the next draw. Cost: nothing. */
    void place(const Placement& placement) noexcept {
        if (state_) state_->place(placement);
    }

    /*
     * Where a point lies in the picture: (x, y) in the caller's units (those of place() and Frame; the
     * z = 0 plane of the projection, as the placement turns and scales the picture onto it) to level-0
     * pixels of the picture, (0, 0) its top-left corner, x right and y down, as the view draws it now
     * (the placement set last, its scales and angles as the library keeps them). Outside the picture the
     * coordinates run on past its edges. Screen pixels are units x Frame::pixelsPerUnit from the frame's
     * left and bottom. NaN both ways for an empty view or a placement seen edge-on. Cost: a few
     * multiplications.
     */
    PlanePoint pictureFromUnits(double x, double y) const noexcept {
        const detail::PictureMap m = pictureMap();
        const double det = m.acrossX * m.downY - m.downX * m.acrossY, dx = x - m.originX, dy = y - m.originY;
        if (!state_ || !(std::fabs(det) > 0)) return {std::nan(""), std::nan("")};
        return {(dx * m.downY - dy * m.downX) / det, (m.acrossX * dy - m.acrossY * dx) / det};
    }
    /* The other way: level-0 pixel (x, y) of the picture (top-left origin, y down; fractions allowed) to
     * the caller's units, projected onto the z = 0 plane. NaN both ways for an empty view. */
    PlanePoint unitsFromPicture(double x, double y) const noexcept {
        if (!state_) return {std::nan(""), std::nan("")};
        const detail::PictureMap m = pictureMap();
        return {m.x(x, y), m.y(x, y)};
    }

    /* A new texture budget in bytes (TileViewOptions::budgetBytes), which may choose another pinned
     * level; the next draw evicts down to it, the pinned level last. Nothing for an empty view or one
     * whose library instance has ended. Out of memory the pinned level stays as it was. Cost: the levels'
     * bytes counted, and a pass over the resident tiles. */
    void setBudget(std::size_t budgetBytes) noexcept {
        if (!live()) return;
        try {
            state_->setBudget(budgetBytes);
        } catch (...) {  // std::bad_alloc: the pinned level stays as it was
        }
    }

    /*
     * Draws the picture into the current matrix, `frame` being the visible rectangle in the caller's
     * units and its screen pixels per unit. Uploads what has been read (up to uploadBytesPerFrame), draws,
     * then asks for what the frame still lacks, most urgent first, cancelling reads no longer wanted.
     * Nothing for an empty view. OpenGL: context current; state left as ZelvanDraw leaves it.
     * Cost: one Zelvan draw per part of a tile drawn (a few hundred for a full-screen frame).
     */
    void draw(const Frame& frame) noexcept {
        if (!live()) return;
        try {
            state_->draw(frame);
        } catch (...) {  // std::bad_alloc: this frame draws less; the next tries again
        }
    }

    /* True once the one-tile level is resident: from then on no frame shows a hole (for levels that never
     * shrink to one tile: once a frame was complete). False for an empty view. */
    bool ready() const noexcept { return state_ && state_->alive() && state_->ready(); }

    /* Waits, at most `timeout`, for the one-tile level, uploading it as it comes (reading it here with
     * readOnDrawingThread). True when ready. OpenGL: context current. Cost: the reads of that level. */
    bool waitUntilReady(std::chrono::milliseconds timeout) noexcept {
        if (!live()) return false;
        try {
            return state_->waitUntilReady(timeout);
        } catch (...) {  // std::bad_alloc
            return false;
        }
    }

    /*
     * For a program that shows one still frame (a headless renderer): plans `frame` as draw(frame) would,
     * with the placement set now, asks for the tiles it lacks and blocks until they have come, uploading
     * each as it arrives (without the per-draw allowance), or until nothing it lacks is still coming (its
     * reads failed and are waiting for a retry, or were given up), or `timeout` has passed. Draws nothing.
     * Returns: true when the next draw(frame), with the same placement and budget, will be complete
     * (stats().complete); false on timeout, when a tile failed, when the frame's levels do not fit the
     * budget (stats().budgetLimited with a level that fits nothing), for an empty view or one whose
     * library instance has ended, or out of memory. The tiles uploaded stay for the next draw.
     * Threads: the drawing thread, the context current, like draw(): it waits on a condition the workers
     * signal as each read arrives, no polling (with readOnDrawingThread it reads here instead).
     * Cost: the frame's reads and uploads, which draw() would spread over frames. Never throws.
     */
    bool waitUntilComplete(const Frame& frame, std::chrono::milliseconds timeout) noexcept {
        if (!live()) return false;
        try {
            return state_->waitUntilComplete(frame, timeout);
        } catch (...) {  // std::bad_alloc
            return false;
        }
    }

    /* Marks level-0 pixels (x, y) to (x + width, y + height) changed: the tiles over them are read again
     * and drawn with their old pixels until the new ones are uploaded; their raw samples (typed pictures)
     * are dropped. Tiles there that were given up are tried again. Nothing for an empty area, an empty
     * view or one whose library instance has ended; out of memory the tiles are not marked. Cost: a pass
     * over the resident and raw tiles. */
    void invalidate(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) noexcept {
        if (!live() || width == 0 || height == 0) return;
        try {
            state_->invalidate({double(x), double(y), double(x) + width, double(y) + height});
        } catch (...) {  // std::bad_alloc: the tiles are not marked; nothing else changes
        }
    }

    /* Typed pictures: raw samples kept within `bytes` from now on (TileViewOptions::rawBudgetBytes),
     * least recently wanted evicted at once. Nothing for an empty view or one whose library instance has
     * ended, like the other setters. Cost: the evictions. */
    void setRawBudget(std::size_t bytes) noexcept {
        if (live()) state_->setRawBudget(bytes);
    }

    /* How many times the next frames between two levels draw the finer one (TileViewOptions::passes),
     * clamped to 1 to 16: the same tiles drawn, so that a program may draw a resting view again with more
     * passes and go back to 3 as it moves. Nothing for an empty view or one whose library instance has
     * ended, like the other setters. Thread: the drawing thread. Cost: none until the next draw. */
    void setPasses(int passes) noexcept {
        if (live()) state_->setPasses(passes);
    }

    /* What the source's pixels are (its own colours for an empty view). */
    SampleLayout sampleLayout() const noexcept { return state_ ? state_->layout() : SampleLayout{}; }

    /*
     * Typed pictures: shows the samples through `mapping` from the next draw on. The tiles on screen are
     * made anew from their raw samples (no read while they are kept; see rawBudgetBytes), pinned and
     * coarse levels first, within uploadBytesPerFrame a draw, each drawn with its old texels until its
     * new ones are in. False, the previous mapping kept, when the mapping is invalid for the picture
     * (`reason`, if given, says why in one line), the picture has its own colours, the view is empty,
     * or out of memory. Cost: a table per changed channel (65536 entries for 16 bits, about 32000 for
     * floats), then the visible tiles' mapping, spread over the next draws.
     */
    bool setMapping(const DisplayMapping& mapping, std::string* reason = nullptr) noexcept {
        try {
            if (!live()) {
                if (reason != nullptr) *reason = describe(status());
                return false;
            }
            return state_->setMapping(mapping, reason);
        } catch (...) {  // std::bad_alloc: the mapping before stays
            if (reason != nullptr) *reason = "out of memory";
            return false;
        }
    }
    /* The mapping shown (the source's own, TileSource::displayMapping(), until setMapping; empty for
     * pictures of their own colours and for an empty view). */
    const DisplayMapping& mapping() const noexcept {
        static const DisplayMapping none;
        return state_ ? state_->mapping() : none;
    }

    /*
     * Typed pictures: a channel's histogram in `bins` bins, between its least and greatest finite sample,
     * from the raw samples of the one-tile level (the finest level whose sides both fit 512 pixels, read
     * first: there once waitUntilReady returns true); until that level is kept whole, of the finest level
     * kept whole, else the coarsest kept in part; at most about 4 million samples, evenly spaced. NaN and
     * infinities are left out (nonFinite counts them). Empty, or found false, before any tile is read,
     * for a channel the picture lacks, for pictures of their own colours, or out of memory. Threads: the
     * drawing thread. Cost: a pass over those samples.
     */
    ChannelHistogram histogram(unsigned channel, unsigned bins = 256) const noexcept {
        try {
            detail::ChannelValues values;
            if (state_ != nullptr) state_->channelValues(channel, values);
            return histogramOf(values.values, values.nonFinite, bins);
        } catch (...) {  // std::bad_alloc
            return {};
        }
    }
    /* Typed pictures: limits for a channel's mapping, its samples at `lowPercent` and `highPercent`
     * (nearest rank, 0 to 100) of the same samples histogram() reads; a flat channel gets max a little
     * above min, so that the limits make a valid mapping. found is false as histogram() is empty. Threads:
     * the drawing thread. Cost: a pass over those samples and their partial sort. */
    ChannelLimits autoLimits(unsigned channel, double lowPercent = 0.5,
                             double highPercent = 99.5) const noexcept {
        try {
            detail::ChannelValues values;
            if (state_ != nullptr) state_->channelValues(channel, values);
            return percentileLimits(values.values, lowPercent, highPercent);
        } catch (...) {  // std::bad_alloc
            return {};
        }
    }

    /* Tiles given up (TileStats::givenUp) are asked for again at the next draw, without waiting for their
     * back-off; their failure counts start again. Nothing for an empty view or one whose library instance
     * has ended. Cost: a pass over the failures remembered. */
    void retryGivenUp() noexcept {
        if (live()) state_->retryGivenUp();
    }

    /* Counts since construction and what the last frame drew (TileStats says what each counts). All zero
     * for an empty view (and resident counts zero once the library instance has ended). In a scene, the
     * counts, resident tiles and raw ones are its picture's, shared by every view of its source; the
     * scene's own are TileScene::stats(). Threads: the drawing thread. Cost: a lock of the reader, and
     * the given-up list copied. */
    TileStats stats() const noexcept {
        try {
            return state_ ? state_->stats() : TileStats{};
        } catch (...) {  // std::bad_alloc copying the counts
            return {};
        }
    }

private:
    /* Whether the view can act: made, and its library instance still there. Once the instance has
     * ended, the textures are forgotten (the instance took them) and reads stop. */
    bool live() noexcept {
        if (!state_) return false;
        if (state_->alive()) return true;
        state_->forgetLibrary();
        return false;
    }

    /* The picture's level-0 pixels on the plane as the parts are drawn: scales as the library keeps them. */
    detail::PictureMap pictureMap() const noexcept {
        if (!state_) return {};
        Placement p = state_->placement();
        p.scaleX = static_cast<float>(p.scaleX);
        p.scaleY = static_cast<float>(p.scaleY);
        return detail::PictureMap::of(p, state_->full());
    }

    /* Makes the view in `core` (null: a scene of its own, of `workers` threads and `own` options), its
     * picture shared with the scene's other views of `source`. */
    void open(std::shared_ptr<detail::SceneCore> core, TileSource& source, const TileViewOptions& options,
              unsigned workers, const TileSceneOptions& own) noexcept {
        try {
            Image probe(1, 1);  // no instance: no image, and no view
            if (!probe) {
                status_ = TileViewStatus::NoLibrary;
                return;
            }
            status_ = TileViewStatus::OutOfMemory;
            const bool alone = core == nullptr;
            if (alone) core = std::make_shared<detail::SceneCore>(own, workers);
            const std::shared_ptr<detail::ScenePicture> picture =
                detail::pictureIn(core, source, options, status_);
            if (!picture) return;
            std::unique_ptr<detail::ViewState> state(
                new detail::ViewState(picture, options, std::move(probe)));
            if (alone) state->start();
            state_ = std::move(state);
            status_ = TileViewStatus::Ready;
        } catch (const std::bad_alloc&) {
            status_ = TileViewStatus::OutOfMemory;
        } catch (...) {  // the source threw: status_ says where
        }
    }

    std::unique_ptr<detail::ViewState> state_;
    TileViewStatus status_ = TileViewStatus::Empty;
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_HPP */
