/*
 * The tile view's reader: the reads waiting for a worker, the reads under way (each with its control,
 * cancelled when its tile is no longer wanted) and the tiles read but not yet uploaded, shared between
 * the drawing thread and the workers under one lock.
 *
 * Memory: at most kHeldTiles tiles are held at once (fewer for pictures of many channels: no more than
 * kHeldBytes), each in a buffer of one whole tile (512 x 512 x the pixel's bytes) that is kept and
 * reused, so that what arrived-but-not-uploaded tiles cost stays bounded whatever the frame rate, and no
 * buffer goes back to the allocator to be fragmented. A tile is held from the moment a read takes it
 * from the queue until the caller gives it back (giveBack), the one way its buffer returns to the spare
 * ones; a buffer the caller keeps (a raw tile) is replaced by a new one at a later read.
 */
#ifndef ZELVAN_TILES_READER_HPP
#define ZELVAN_TILES_READER_HPP

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan_tiles_plan.hpp"
#include "zelvan_tiles_source.hpp"

namespace zelvan {
namespace detail {

class TileReader {
public:
    static constexpr std::size_t kHeldTiles = 8;
    static constexpr std::size_t kHeldBytes = std::size_t{64} << 20;

    using Buffer = std::unique_ptr<unsigned char[]>;
    struct Arrival {
        TileRequest request;
        Buffer pixels;                   // null when no buffer could be had
        bool ok = false;                 // the read succeeded
        bool cancelled = false;          // the read was cancelled while it ran
        std::int64_t retryAfterMs = -1;  // what the source asked for, with a failure; -1: nothing
    };

    TileReader() = default;
    TileReader(const TileReader&) = delete;
    TileReader& operator=(const TileReader&) = delete;
    ~TileReader() { stop(); }

    /* Reserves the reader's memory and starts up to `workers` threads. False when the memory cannot be
     * had; with fewer threads than asked (none, even) the caller reads on its own thread. */
    bool start(TileSource& source, unsigned workers, const SampleLayout& layout = {}) noexcept {
        source_ = &source;
        layout_ = layout;
        bufferBytes_ = std::size_t{kTileSide} * kTileSide * pixelBytes(layout);
        heldLimit_ = std::clamp<std::size_t>(kHeldBytes / bufferBytes_, 1, kHeldTiles);
        try {
            arrivals_.reserve(kHeldTiles);
            spare_.reserve(kHeldTiles);
            slots_.resize(kHeldTiles);
            for (Slot& s : slots_) s.control.reset(new TileReadControl);
        } catch (...) {  // std::bad_alloc
            return false;
        }
        try {
            threads_.reserve(workers);
            for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
        } catch (...) {  // std::bad_alloc, std::system_error: fewer workers
        }
        return true;
    }

    /* Cancels the reads under way, then waits for them to return and for the workers to end. */
    void stop() noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            for (Slot& s : slots_)
                if (s.busy) s.control->cancel();
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    bool threaded() const noexcept { return !threads_.empty(); }
    std::size_t bufferBytes() const noexcept { return bufferBytes_; }

    /* Moves the tiles read since the last call to `arrived`, whose capacity must be kHeldTiles: the
     * tiles held, which it and the reader share, are never more. */
    void collect(std::vector<Arrival>& arrived) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Arrival& a : arrivals_)
            if (arrived.size() < arrived.capacity())
                arrived.push_back(std::move(a));
            else
                giveBackLocked(a);
        arrivals_.clear();
    }

    /* A tile taken by collect or readOne is done with: its buffer (if the caller did not keep it) goes
     * back to the spare ones, and a read may start in its place. */
    void giveBack(Arrival& a) noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            giveBackLocked(a);
        }
        wake_.notify_all();
    }

    /* Waits until a read has arrived, or `deadline`. */
    bool waitForArrival(std::chrono::steady_clock::time_point deadline) noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        arrivedSignal_.wait_until(lock, deadline, [this] { return !arrivals_.empty(); });
        return !arrivals_.empty();
    }

    /* Replaces the queue by `wanted` (most urgent last; its old contents come back in it), leaving out
     * tiles being read or read already: a read no longer wanted is dropped before it starts. Cancels the
     * reads under way whose tile `keep` does not hold. */
    void setQueue(std::vector<TileRequest>& wanted, const std::unordered_set<std::uint64_t>& keep) noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto busy = [this](const TileRequest& r) {
                const std::uint64_t key = tileKey(r.tile);
                return std::any_of(slots_.begin(), slots_.end(),
                                   [key](const Slot& s) { return s.busy && s.key == key; }) ||
                       std::any_of(arrivals_.begin(), arrivals_.end(),
                                   [key](const Arrival& a) { return tileKey(a.request.tile) == key; });
            };
            wanted.erase(std::remove_if(wanted.begin(), wanted.end(), busy), wanted.end());
            queue_.swap(wanted);
            for (Slot& s : slots_)
                if (s.busy && !s.control->cancelled() && keep.count(s.key) == 0) {
                    s.control->cancel();
                    ++cancelled_;
                }
        }
        wake_.notify_all();
    }

    /* Without workers: the most urgent queued read, done on the calling thread. */
    bool readOne(Arrival& out) noexcept {
        TileRequest request;
        Buffer buffer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty() || held_ >= heldLimit_) return false;
            request = take(buffer);
        }
        TileReadControl control;
        out = read(request, std::move(buffer), control);
        return true;
    }

    /* Reads started and cancelled since construction, and those queued or under way (cancelled ones
     * that have not returned included), taken together: a read that starts and ends between two separate
     * looks would be in neither the started count nor the pending one. */
    struct Counts {
        std::uint64_t started = 0, cancelled = 0;
        std::size_t pending = 0;
    };
    Counts counts() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return {started_, cancelled_, pendingLocked()};
    }
    std::size_t pending() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return pendingLocked();
    }
    /* No read under way, and none read but not given back. */
    bool idle() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_ == 0;
    }
    /* Whether a tile is still to come: queued, being read, or read and not yet collected. */
    bool coming() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return pendingLocked() != 0 || !arrivals_.empty();
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        bool busy = false;
        std::unique_ptr<TileReadControl> control;
    };

    void giveBackLocked(Arrival& a) noexcept {
        held_ -= std::min<std::size_t>(held_, 1);
        if (a.pixels && spare_.size() < spare_.capacity()) spare_.push_back(std::move(a.pixels));
        a.pixels.reset();
    }

    std::size_t pendingLocked() const noexcept {
        return queue_.size() + static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(),
                                                                      [](const Slot& s) { return s.busy; }));
    }

    /* The most urgent request, with a spare buffer if there is one (lock held). */
    TileRequest take(Buffer& buffer) noexcept {
        const TileRequest request = queue_.back();
        queue_.pop_back();
        ++held_;
        ++started_;
        if (!spare_.empty()) {
            buffer = std::move(spare_.back());
            spare_.pop_back();
        }
        return request;
    }

    Arrival read(const TileRequest& r, Buffer buffer, TileReadControl& control) noexcept {
        if (!buffer) buffer.reset(new (std::nothrow) unsigned char[bufferBytes_]);
        Arrival a{r, std::move(buffer)};
        if (a.pixels) {
            try {
                const std::size_t pitch = std::size_t{r.rect.width} * pixelBytes(layout_);
                if (layout_.type == SampleType::Bgra8)
                    a.ok = source_->readTile(r.tile.level, r.rect.x, r.rect.y, r.rect.width, r.rect.height,
                                             a.pixels.get(), pitch, control);
                else
                    a.ok = source_->readSamples(r.tile.level, r.rect.x, r.rect.y, r.rect.width, r.rect.height,
                                                a.pixels.get(), pitch, control);
            } catch (...) {  // a source that throws has failed
            }
        }
        a.cancelled = control.cancelled();
        a.retryAfterMs = control.retryAfterMs();
        return a;
    }

    void work() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || (!queue_.empty() && held_ < heldLimit_); });
            if (stopping_) return;
            Buffer buffer;
            const TileRequest request = take(buffer);
            // held_ <= heldLimit_ <= kHeldTiles slots: one is free.
            Slot& slot = *std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
            slot.key = tileKey(request.tile);
            slot.busy = true;
            slot.control->reset();
            lock.unlock();
            Arrival a = read(request, std::move(buffer), *slot.control);
            lock.lock();
            slot.busy = false;
            arrivals_.push_back(std::move(a));  // within the capacity reserved, as above
            arrivedSignal_.notify_all();
        }
    }

    TileSource* source_ = nullptr;
    SampleLayout layout_;
    std::size_t bufferBytes_ = std::size_t{kTileSide} * kTileSide * 4, heldLimit_ = kHeldTiles;
    std::mutex mutex_;
    std::condition_variable wake_, arrivedSignal_;
    std::vector<TileRequest> queue_;  // most urgent last
    std::vector<Arrival> arrivals_;
    std::vector<Slot> slots_;
    std::vector<Buffer> spare_;
    std::size_t held_ = 0;  // tiles taken from the queue and not yet given back
    std::uint64_t started_ = 0, cancelled_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_READER_HPP */
