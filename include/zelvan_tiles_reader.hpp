/*
 * The tile view's reader, one a picture: its reads waiting for a worker of the scene's pool
 * (zelvan_tiles_pool.hpp), the reads under way (each with its control, cancelled when its tile is no longer
 * wanted) and the tiles read but not yet uploaded, shared between the drawing thread and the workers under
 * the pool's lock.
 *
 * Memory: at most kHeldTiles tiles are held at once (fewer for pictures of many channels: no more than
 * kHeldBytes; and the pool's bound over all pictures), each in a buffer of one whole tile (512 x 512 x the
 * pixel's bytes) that goes back to the pool's spare ones and is reused, so that what
 * arrived-but-not-uploaded tiles cost stays bounded whatever the frame rate. A tile is held from the moment
 * a read takes it from the queue until the caller gives it back (giveBack), the one way its buffer returns
 * to the spare ones; a buffer the caller keeps (a raw tile) is replaced by a new one at a later read.
 */
#ifndef ZELVAN_TILES_READER_HPP
#define ZELVAN_TILES_READER_HPP

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "zelvan_tiles_plan.hpp"
#include "zelvan_tiles_pool.hpp"
#include "zelvan_tiles_source.hpp"

namespace zelvan {
namespace detail {

class TileReader final : public PooledReader {
public:
    static constexpr std::size_t kHeldTiles = 8;
    static constexpr std::size_t kHeldBytes = std::size_t{64} << 20;

    using Buffer = ReadPool::Buffer;
    struct Arrival {
        TileRequest request;
        Buffer pixels;                   // null when no buffer could be had
        bool ok = false;                 // the read succeeded
        bool cancelled = false;          // the read was cancelled while it ran
        std::int64_t retryAfterMs = -1;  // what the source asked for, with a failure; -1: nothing
        unsigned waits = 0;              // draws it has waited for room since it was read
    };

    TileReader() = default;
    TileReader(const TileReader&) = delete;
    TileReader& operator=(const TileReader&) = delete;
    ~TileReader() { stop(); }

    /* Reserves the reader's memory and joins `pool`, whose workers read for it (with none, the caller
     * reads on its own thread). False when the memory cannot be had. */
    bool start(TileSource& source, std::shared_ptr<ReadPool> pool, const SampleLayout& layout = {}) noexcept {
        source_ = &source;
        layout_ = layout;
        bufferBytes_ = std::size_t{kTileSide} * kTileSide * pixelBytes(layout);
        heldLimit_ = std::clamp<std::size_t>(kHeldBytes / bufferBytes_, 1, kHeldTiles);
        try {
            arrivals_.reserve(kHeldTiles);
            slots_.resize(kHeldTiles);
            for (Slot& s : slots_) s.control.reset(new TileReadControl);
            std::lock_guard<std::mutex> lock(pool->mutex());
            pool->add(this);
        } catch (...) {  // std::bad_alloc
            return false;
        }
        pool_ = std::move(pool);
        return true;
    }

    /* Leaves the pool: the queue emptied, the reads under way cancelled, then waited for; the tiles read
     * and not collected given back. */
    void stop() noexcept {
        if (!pool_) return;
        std::unique_lock<std::mutex> lock(pool_->mutex());
        pool_->remove(this);
        queue_.clear();
        for (Slot& s : slots_)
            if (s.busy) s.control->cancel();
        pool_->arrived().wait(lock, [this] {
            return std::none_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.busy; });
        });
        for (Arrival& a : arrivals_) giveBackLocked(a);
        arrivals_.clear();
        lock.unlock();
        pool_->wake().notify_all();
        pool_.reset();
    }

    bool threaded() const noexcept { return pool_ && pool_->threaded(); }
    std::size_t bufferBytes() const noexcept { return bufferBytes_; }

    /* Moves the tiles read since the last call to `arrived`, whose capacity must be kHeldTiles: the
     * tiles held, which it and the reader share, are never more. */
    void collect(std::vector<Arrival>& arrived) noexcept {
        if (!pool_) return;
        std::lock_guard<std::mutex> lock(pool_->mutex());
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
        if (!pool_) return;
        {
            std::lock_guard<std::mutex> lock(pool_->mutex());
            giveBackLocked(a);
        }
        pool_->wake().notify_all();
    }

    /* Waits until a read has arrived, or `deadline`. */
    bool waitForArrival(std::chrono::steady_clock::time_point deadline) noexcept {
        if (!pool_) return false;
        std::unique_lock<std::mutex> lock(pool_->mutex());
        pool_->arrived().wait_until(lock, deadline, [this] { return !arrivals_.empty(); });
        return !arrivals_.empty();
    }

    /* Replaces the queue by `wanted` (most urgent last; its old contents come back in it), leaving out
     * tiles being read or read already: a read no longer wanted is dropped before it starts. Cancels the
     * reads under way whose tile `keep` does not hold. */
    void setQueue(std::vector<TileRequest>& wanted, const std::unordered_set<std::uint64_t>& keep) noexcept {
        if (!pool_) return;
        {
            std::lock_guard<std::mutex> lock(pool_->mutex());
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
        pool_->wake().notify_all();
    }

    /* Without workers: the most urgent queued read, done on the calling thread. */
    bool readOne(Arrival& out) noexcept {
        if (!pool_) return false;
        TileRequest request;
        Buffer buffer;
        {
            std::lock_guard<std::mutex> lock(pool_->mutex());
            if (nextRead() == nullptr || !pool_->mayHold()) return false;
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
        if (!pool_) return {started_, cancelled_, 0};
        std::lock_guard<std::mutex> lock(pool_->mutex());
        return {started_, cancelled_, pendingLocked()};
    }
    std::size_t pending() noexcept { return counts().pending; }
    /* How long a read takes, in seconds: a running mean of the successful reads, the newest counting for a
     * fifth; 0 before any. What a view moving on screen weighs its tiles' coming by. */
    double typicalReadSeconds() const noexcept { return readSeconds_.load(std::memory_order_relaxed); }
    /* No read under way, and none read but not given back. */
    bool idle() noexcept {
        if (!pool_) return true;
        std::lock_guard<std::mutex> lock(pool_->mutex());
        return held_ == 0;
    }
    /* Whether a tile is still to come: queued, being read, or read and not yet collected. */
    bool coming() noexcept {
        if (!pool_) return false;
        std::lock_guard<std::mutex> lock(pool_->mutex());
        return pendingLocked() != 0 || !arrivals_.empty();
    }

    // ---- for the pool's workers, its lock held ----

    const TileRequest* nextRead() const noexcept override {
        return queue_.empty() || held_ >= heldLimit_ ? nullptr : &queue_.back();
    }
    void readNext(std::unique_lock<std::mutex>& lock) noexcept override {
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
        pool_->arrived().notify_all();
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        bool busy = false;
        std::unique_ptr<TileReadControl> control;
    };

    void giveBackLocked(Arrival& a) noexcept {
        held_ -= std::min<std::size_t>(held_, 1);
        pool_->release(std::move(a.pixels), bufferBytes_);
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
        buffer = pool_->hold(bufferBytes_);
        return request;
    }

    Arrival read(const TileRequest& r, Buffer buffer, TileReadControl& control) noexcept {
        if (!buffer) buffer.reset(new (std::nothrow) unsigned char[bufferBytes_]);
        Arrival a{r, std::move(buffer)};
        const auto start = std::chrono::steady_clock::now();
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
        if (a.ok && !a.cancelled) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double before = readSeconds_.load(std::memory_order_relaxed);
            readSeconds_.store(before > 0 ? before + (seconds - before) / 5 : seconds,
                               std::memory_order_relaxed);
        }
        return a;
    }

    TileSource* source_ = nullptr;
    SampleLayout layout_;
    std::size_t bufferBytes_ = std::size_t{kTileSide} * kTileSide * 4, heldLimit_ = kHeldTiles;
    std::vector<TileRequest> queue_;  // most urgent last
    std::vector<Arrival> arrivals_;
    std::vector<Slot> slots_;
    std::size_t held_ = 0;  // tiles taken from the queue and not yet given back
    std::uint64_t started_ = 0, cancelled_ = 0;
    // typicalReadSeconds(): workers update it unlocked; one update lost to another's at the same moment
    // only makes the mean a read older.
    std::atomic<double> readSeconds_{0};
    std::shared_ptr<ReadPool> pool_;  // null until started, and once stopped
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_READER_HPP */
