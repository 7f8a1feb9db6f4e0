/*
 * Zelvan for C++: what a tile view is made with (TileViewOptions), why it is empty (TileViewStatus)
 * and what it tells of itself (TileStats); what a scene of views is made with (TileSceneOptions) and what
 * it tells (TileSceneStats). zelvan_tiles.hpp has the view, zelvan_tiles_scene.hpp the scene.
 *
 * Header-only C++17; nothing here calls OpenGL.
 */
#ifndef ZELVAN_TILES_OPTIONS_HPP
#define ZELVAN_TILES_OPTIONS_HPP

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zelvan_tiles_types.hpp"

namespace zelvan {

struct TileViewOptions {
    /* Texture bytes, as allocated (power-of-two sides; TileView's Memory says how a tile counts), never
     * exceeded after a draw. A quarter of it at most holds the pinned level; a frame plans within half
     * of the rest. TileView::setBudget changes it. */
    std::size_t budgetBytes = std::size_t{256} << 20;
    /* Worker threads reading tiles. 0: the hardware threads, at least 4 and at most 8, so that sources
     * that wait (disks, servers) overlap their waits even on a small machine. At most 8 are used. */
    unsigned workers = 0;
    /* Texture bytes made per draw, at most; at least one tile a draw (with readOnDrawingThread, also the
     * bytes read per draw, as 4 bytes a pixel). Re-mapped typed tiles count too. */
    std::size_t uploadBytesPerFrame = std::size_t{4} << 20;
    /* A failed read (false, or an exception) is tried again this often, then the tile is given up... */
    unsigned retries = 2;
    /* ...for this long, doubling each time it is given up again (at most 2 minutes), then tried afresh.
     * TileView::retryGivenUp() tries them at once; invalidate() too, for the tiles it covers. */
    std::chrono::milliseconds retryBackoff{2000};
    /* Reads made inside draw(), on the drawing thread, up to uploadBytesPerFrame each frame: for programs
     * that run no threads, and for runs that must repeat exactly. The view starts no worker. */
    bool readOnDrawingThread = false;
    /* The first draw waits up to this long for the one-tile level, so that it is not blank (as
     * waitUntilReady). 0: it draws what there is. */
    std::chrono::milliseconds firstDrawWait{0};
    /* Read the levels that stand in for tiles still coming: the one-tile level, read first and kept
     * resident, and the coarser of the two levels a frame blends, which shows only where the finer one
     * is missing. false: only the level a frame shows is read, a tile still coming shows the background,
     * and ready() waits for a complete frame. For a program that shows only a frame drawn once all its
     * tiles have come (a still written to a file): fewer reads before it, the same frame. */
    bool standIns = true;
    /* Typed pictures: bytes of raw samples kept (least recently wanted first), so that a new mapping, or
     * a tile wanted again, needs no read. A tile that does not fit is read again when its mapping
     * changes. Unused for pictures of their own colours. */
    std::size_t rawBudgetBytes = std::size_t{512} << 20;
    /* How many times a frame between two levels draws the finer one, as Pyramid::draw(pixelsPerUnit,
     * passes) does: 1 to 16, other values clamped; 3 by default; TileView::setPasses changes it. Offsets on
     * an even sub-pixel pattern (each axis sees n evenly spaced offsets, 16 a sixteenth of a pixel apart;
     * 4 a 2 x 2 grid), each pass its share of the placement's opacity. More come closer to the picture
     * box-filtered (16 about 1.4 times as close as 3 on detail as fine as the finer level). Cost: one draw of
     * the finer level's tiles a pass (16 about 5 times the time of 3): for stills, where time does not
     * matter. */
    int passes = 3;
    /* While the view moves on screen faster than its tiles come (farther, during one read, than three
     * quarters of the frame's shorter side, or half a tile's side if more), frames show and read a coarser
     * level, whose tiles are still in view when they arrive: the finest level that moves less than half its
     * tile's side while one is read. Once it slows below that, the level its scale asks for. A read's time
     * is measured as the view reads (0 before its first), so a picture on disk, read in milliseconds, is
     * coarsened only by a fling of tens of thousands of pixels a second. false: every frame reads the level
     * its scale asks for, whatever it costs. */
    bool followMotion = true;
};

/* Why a view is empty, or Ready when it is not. */
enum class TileViewStatus {
    Ready,
    Empty,         // made by the default constructor, or moved from
    NoLibrary,     // no library instance (no Library, or ZelvanInit not called) when it was made
    BadLevels,     // the source's levels make no sense (see TileSource)
    BadSamples,    // the source's sample layout makes no sense (see SampleLayout)
    SourceFailed,  // the source threw while telling its levels
    OutOfMemory,   // the view's memory could not be had
    LibraryGone,   // its library instance has ended since
};

/* One line of text for a status, for messages. Never null. */
inline const char* describe(TileViewStatus status) noexcept {
    switch (status) {
        case TileViewStatus::Ready:
            return "ready";
        case TileViewStatus::Empty:
            return "empty view";
        case TileViewStatus::NoLibrary:
            return "no Zelvan library instance when the view was made";
        case TileViewStatus::BadLevels:
            return "the source's levels make no sense (1 to 64 levels, none empty, none larger than the one "
                   "before)";
        case TileViewStatus::BadSamples:
            return "the source's samples make no sense (colours, or 1 to 64 channels of a known type)";
        case TileViewStatus::SourceFailed:
            return "the source failed while telling its levels";
        case TileViewStatus::OutOfMemory:
            return "out of memory";
        case TileViewStatus::LibraryGone:
            return "the view's library instance has ended";
    }
    return "unknown";
}

/* What a view tells of itself (TileView::stats()). Counts "since construction" only grow; the others
 * describe the last draw, or the moment stats() was called. */
struct TileStats {
    std::size_t residentBytes = 0;   // texture bytes of the resident tiles, as TileView's Memory counts them
    std::size_t tilesResident = 0;   // tiles resident as textures (pinned ones included)
    std::uint64_t uploads = 0;       // tiles uploaded since construction (re-mapped typed tiles included)
    std::uint64_t requests = 0;      // reads started since construction (a read of one tile each)
    std::size_t readsPending = 0;    // reads queued or under way now (cancelled ones not yet returned too)
    std::uint64_t readsFailed = 0;   // failed reads and uploads since construction, each attempt
    std::uint64_t readsGivenUp = 0;  // times a tile was given up after its retries, since construction
    std::uint64_t readsCancelled = 0;  // reads cancelled while under way, their tile no longer wanted
    std::vector<TileIndex> givenUp;    // tiles given up now, waiting for their back-off
    std::size_t level = 0;             // the finer level the last frame drew
    std::size_t coarserLevel = 0;      // the coarser level it drew (level, when one level alone)
    std::size_t scaleLevel = 0;        // the finer level its scale asked for
    bool budgetLimited = false;        // the budget made it draw coarser levels than its scale asked
                                       // (level above scaleLevel without it: the view moved faster than
                                       // its tiles come, TileViewOptions::followMotion)
    bool ready = false;                // the one-tile level is resident: no frame shows a hole
    std::size_t rawBytes = 0;          // typed pictures: bytes of raw samples kept, as allocated
    std::size_t rawTiles = 0;          // typed pictures: tiles whose raw samples are kept
    bool complete = false;             // the last frame drew every tile it wanted, of the mapping shown
};

/* What a scene (zelvan_tiles_scene.hpp), the shared home of many views, is made with. */
struct TileSceneOptions {
    /* Texture bytes of all the scene's views together, as TileViewOptions::budgetBytes counts them. */
    std::size_t budgetBytes = std::size_t{256} << 20;
    /* Typed pictures' raw samples, all the scene's pictures together (TileViewOptions::rawBudgetBytes). */
    std::size_t rawBudgetBytes = std::size_t{512} << 20;
    /* The scene's worker threads, its only readers: 0, the hardware threads, at least 4 and at most 8;
     * at most 8 are used. */
    unsigned workers = 0;
    /* Texture bytes made per view draw, at most (a view's own TileViewOptions::uploadBytesPerFrame, if
     * smaller, holds); at least one tile a draw. */
    std::size_t uploadBytesPerFrame = std::size_t{4} << 20;
};

/* What a scene tells of itself (TileScene::stats()): the moment it is called. */
struct TileSceneStats {
    std::size_t residentBytes = 0;  // texture bytes resident, every picture together (within budgetBytes)
    std::size_t tilesResident = 0;  // tiles resident as textures, every picture together
    std::size_t views = 0;          // views made in the scene and not destroyed
    std::size_t pictures = 0;       // pictures (TileSource objects) they show, each counted once
    std::size_t threads = 0;        // worker threads, all pictures' only readers
    std::size_t readsPending = 0;   // reads queued or under way, every picture together
    std::uint64_t requests = 0;     // reads started since the scene was made
    std::uint64_t uploads = 0;      // tiles uploaded by the pictures shown now, since each was first shown
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_OPTIONS_HPP */
