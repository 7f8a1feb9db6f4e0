/*
 * Zelvan for C++: what a tile view reads from. The caller implements a TileSource (its picture's levels
 * and a read of a rectangle of one level); each read gets a TileReadControl, through which it learns
 * that it is no longer wanted and says when a failure is worth trying again.
 *
 * Header-only C++17; nothing here calls OpenGL.
 */
#ifndef ZELVAN_TILES_SOURCE_HPP
#define ZELVAN_TILES_SOURCE_HPP

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

#include "zelvan_mapping.hpp"
#include "zelvan_tiles_types.hpp"

namespace zelvan {

namespace detail {
class TileReader;
}

/*
 * Handed to TileSource::readTile for the length of one call.
 *
 * Cancellation: a read is cancelled when its tile leaves what the view wants (the picture moved, the
 * view was destroyed). A cancelled read should return soon (its result is dropped, and not counted as
 * a failure); the view never waits for it longer than the source takes to notice. The source can poll
 * cancelled(), sleep in waitFor() (which wakes at once on cancellation), or register a handler with
 * onCancel().
 *
 * Failure: a read that returns false has failed; a source that knows the failure will pass (a busy
 * server's "retry after") calls retryAfter() first, and the tile is not asked for again before then.
 *
 * Threads: every member may be called from the thread running the read; cancelled() and waitFor() from
 * any thread.
 */
class TileReadControl {
public:
    /* A control for one read, not cancelled, no retry asked for. The view makes one per worker and
     * resets it for each read; a program calling a source itself (a test) may make its own. Neither
     * copied nor moved: a handler may hold on to it. */
    TileReadControl() = default;
    TileReadControl(const TileReadControl&) = delete;
    TileReadControl& operator=(const TileReadControl&) = delete;

    /* True once the read is no longer wanted. Cost: one atomic load. */
    bool cancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }

    /* Sleeps for `time` or until the read is cancelled, whichever comes first. Returns cancelled(). Any
     * thread; it does not return early otherwise. */
    template <typename Rep, typename Period>
    bool waitFor(std::chrono::duration<Rep, Period> time) noexcept {
        try {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, time, [this] { return cancelled(); });
        } catch (...) {  // std::system_error from the lock: no wait
        }
        return cancelled();
    }

    /* Registers a handler called once when the read is cancelled: on the drawing thread, inside the
     * view's members that ask for reads (draw, waitUntilReady, waitUntilComplete) or its destructor, so it
     * must be quick (abort a transfer, signal a descriptor) and must not call the view. Called at once, on
     * this thread, if the read is cancelled already. A later call replaces the handler; false when it cannot
     * be stored (out of memory). */
    bool onCancel(std::function<void()> handler) noexcept {
        try {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!cancelled()) {
                handler_ = std::move(handler);
                return true;
            }
            lock.unlock();
            if (handler) handler();
            return true;
        } catch (...) {  // std::bad_alloc, std::system_error, or a handler that throws
            return false;
        }
    }

    /* With a read that returns false: the failure is expected to pass, and the tile is read again no
     * sooner than `delay` from now (and not given up while the source keeps saying so within the view's
     * retries). A negative delay counts as 0; the last call wins. Thread: the read's. */
    void retryAfter(std::chrono::milliseconds delay) noexcept {
        retryAfter_.store(std::max<std::int64_t>(0, delay.count()), std::memory_order_relaxed);
    }

private:
    friend class detail::TileReader;

    /* Marks the read cancelled and runs its handler. */
    void cancel() noexcept {
        std::function<void()> handler;
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
            handler.swap(handler_);
        } catch (...) {  // std::system_error from the lock: the flag alone
            cancelled_.store(true, std::memory_order_release);
        }
        wake_.notify_all();
        try {
            if (handler) handler();
        } catch (...) {  // a handler that throws has still been told
        }
    }
    void reset() noexcept {
        cancelled_.store(false, std::memory_order_relaxed);
        retryAfter_.store(-1, std::memory_order_relaxed);
        handler_ = nullptr;
    }
    std::int64_t retryAfterMs() const noexcept { return retryAfter_.load(std::memory_order_relaxed); }

    std::atomic<bool> cancelled_{false};
    std::atomic<std::int64_t> retryAfter_{-1};  // -1: not said
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> handler_;
};

/*
 * What the caller implements: a picture's levels and its pixels, read a rectangle at a time.
 *
 * Levels: level 0 is the finest; each next level is half the one before, rounded up or down (the view
 * places level k's texels at exactly 2^k level-0 pixels; a level of any other size is stretched evenly
 * over the picture). 1 to 64 levels, none empty, none larger than the one before; a view of levels
 * that break this is empty. levelCount() and levelSize() are called once, when the view is made.
 *
 * Reading: the view calls readTile(), whose default calls read(). Override read() for a plain read, or
 * readTile() to learn of cancellation and to ask for a retry later through its control. The rectangle lies
 * inside the level; pixels is width * 4 bytes a row, `pitch` bytes apart, blue-green-red-alpha in memory.
 * Return true with every pixel written, or false on failure (the view tries again, see
 * TileViewOptions::retries). An exception counts as a failure.
 *
 * Typed samples: a source of samples other than colours (16-bit microscopy channels, float astronomy)
 * overrides sampleLayout(), asked once when the view is made, and readSamples() instead of read(): the
 * view keeps those tiles raw and shows them through its DisplayMapping (TileView::setMapping). Samples
 * are interleaved, width * pixelBytes(layout) bytes a row, `pitch` bytes apart, in the machine's byte
 * order; the buffer is aligned for the sample type.
 *
 * Threads: read() is called on the view's worker threads, several at once (or on the drawing thread
 * with TileViewOptions::readOnDrawingThread), so it must be safe to call concurrently.
 *
 * Lifetime: the source must outlive every view made from it. A view's destructor cancels its reads in
 * flight and waits for them to return.
 */
class TileSource {
public:
    virtual ~TileSource() = default;

    /* How many levels the picture has, 1 to 64 (more are cut at 65, which a view refuses). Called once, on
     * the thread making the view; an exception leaves the view empty (SourceFailed). */
    virtual std::size_t levelCount() const = 0;

    /* Level `level`'s size in its pixels, for level < levelCount(): level 0 the picture's (each side up to
     * 2^32 - 1), each next level half the one before, rounded up or down (see Levels above). Called once
     * per level, on the thread making the view; an exception leaves the view empty (SourceFailed). */
    virtual TileSize levelSize(std::size_t level) const = 0;

    /* Reads a rectangle (x, y, width, height: at most 512 x 512, inside the level) of `level`'s colours into
     * `pixels`, rows `pitch` bytes apart, blue-green-red-alpha. True with every pixel written; false (or an
     * exception) is a failure, retried as TileViewOptions says. `control` tells of cancellation and takes
     * a "retry after". Threads: the view's workers, several at once. The default calls read(). Used only
     * when sampleLayout() is the default (colours). */
    virtual bool readTile(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                          std::uint32_t height, unsigned char* pixels, std::size_t pitch,
                          TileReadControl& control) {
        (void)control;
        return read(level, x, y, width, height, pixels, pitch);
    }
    /* readTile without its control, for sources that neither wait nor learn of cancellation: the same
     * rectangle, pixels, result and threads. The default fails every read (neither was overridden). */
    virtual bool read(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                      std::uint32_t height, unsigned char* pixels, std::size_t pitch) {
        (void)level, (void)x, (void)y, (void)width, (void)height, (void)pixels, (void)pitch;
        return false;  // neither read overridden: nothing can be read
    }

    /* What the pixels are: the default, a picture's own blue-green-red-alpha colours, read by readTile();
     * any other layout (1 to 64 channels of a SampleType) read by readSamples() and shown through the view's
     * DisplayMapping. Called once, on the thread making the view; an exception leaves the view empty
     * (SourceFailed), a layout that makes no sense too (BadSamples). */
    virtual SampleLayout sampleLayout() const { return {}; }

    /* For a layout other than colours: how the picture's own file says its channels show (names aside:
     * colours, windows, which are on), which a view shows until TileView::setMapping. The default is
     * defaultMapping(sampleLayout()). Called once, on the thread making the view, after sampleLayout();
     * a mapping that does not validate against the layout, or an exception, leaves the default. */
    virtual DisplayMapping displayMapping() const { return defaultMapping(sampleLayout()); }

    /* For a layout other than colours: a rectangle of `level` as readTile takes it, as samples: width x
     * channels interleaved a row, rows `pitch` bytes apart, the machine's byte order, `samples` aligned for
     * the type. Result, control, threads and failures as readTile's. The default fails every read. */
    virtual bool readSamples(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                             std::uint32_t height, void* samples, std::size_t pitch,
                             TileReadControl& control) {
        (void)level, (void)x, (void)y, (void)width, (void)height, (void)samples, (void)pitch, (void)control;
        return false;
    }
};

}  // namespace zelvan

#endif /* ZELVAN_TILES_SOURCE_HPP */
