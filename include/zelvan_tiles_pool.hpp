/*
 * The tile views' workers, one pool for every picture of a scene (zelvan_tiles_scene.hpp): each worker
 * starts the most urgent read of all the pictures' readers (zelvan_tiles_reader.hpp), so that one order
 * holds across views, and the read buffers are shared, so that a picture not read holds none.
 *
 * Threads: everything here is under the pool's one lock, which the readers share; the workers run the
 * sources' reads with it released.
 */
#ifndef ZELVAN_TILES_POOL_HPP
#define ZELVAN_TILES_POOL_HPP

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "zelvan_tiles_plan.hpp"

namespace zelvan {
namespace detail {

/* A reader the pool serves; its members are called with the pool's lock held. */
class PooledReader {
public:
    /* The read it would start now, or null (none queued, or its tiles held are as many as it may hold). */
    virtual const TileRequest* nextRead() const noexcept = 0;
    /* Starts that read on the calling worker, `lock` released while the source reads, held again after. */
    virtual void readNext(std::unique_lock<std::mutex>& lock) noexcept = 0;

protected:
    ~PooledReader() = default;
};

class ReadPool {
public:
    using Buffer = std::unique_ptr<unsigned char[]>;
    /* Tiles held by all readers at once (each reader holds at most its own limit): bounds the buffers. */
    static constexpr std::size_t kHeldTiles = 16;

    ReadPool() = default;
    ReadPool(const ReadPool&) = delete;
    ReadPool& operator=(const ReadPool&) = delete;
    ~ReadPool() { stop(); }

    /* Reserves the pool's memory and starts up to `workers` threads (fewer when threads cannot be had).
     * False when the memory cannot be had. */
    bool start(unsigned workers) noexcept {
        try {
            spare_.reserve(kHeldTiles);
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
    /* Ends the workers once their reads have returned. Every reader has left by then. */
    void stop() noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    std::mutex& mutex() noexcept { return mutex_; }
    /* Signalled when a reader's queue or holdings change (workers wait on it) ... */
    std::condition_variable& wake() noexcept { return wake_; }
    /* ... and when a read has returned (the drawing thread waits on it). */
    std::condition_variable& arrived() noexcept { return arrived_; }
    bool threaded() const noexcept { return !threads_.empty(); }
    std::size_t threads() const noexcept { return threads_.size(); }

    // ---- with the lock held ----

    /* A reader joins (throws std::bad_alloc) or leaves. */
    void add(PooledReader* reader) { readers_.push_back(reader); }
    void remove(PooledReader* reader) noexcept {
        readers_.erase(std::remove(readers_.begin(), readers_.end(), reader), readers_.end());
    }
    /* Whether one more tile may be held, all readers together. */
    bool mayHold() const noexcept { return held_ < kHeldTiles; }
    /* A tile is held from the start of its read until given back; a spare buffer of `bytes` comes with
     * it when there is one (null: the reader makes one). */
    Buffer hold(std::size_t bytes) noexcept {
        ++held_;
        ++started_;
        for (auto it = spare_.begin(); it != spare_.end(); ++it)
            if (it->first == bytes) {
                Buffer b = std::move(it->second);
                spare_.erase(it);
                return b;
            }
        return nullptr;
    }
    /* A held tile given back, with its buffer of `bytes` if the reader did not keep it. */
    void release(Buffer buffer, std::size_t bytes) noexcept {
        held_ -= std::min<std::size_t>(held_, 1);
        if (!buffer) return;
        if (spare_.size() == spare_.capacity() && !spare_.empty()) spare_.erase(spare_.begin());
        if (spare_.size() < spare_.capacity()) spare_.emplace_back(bytes, std::move(buffer));
    }
    /* Reads started by every reader since the pool was made. */
    std::uint64_t started() const noexcept { return started_; }

private:
    /* The reader whose next read is the most urgent of all, or null. */
    PooledReader* mostUrgent() const noexcept {
        if (!mayHold()) return nullptr;
        PooledReader* best = nullptr;
        const TileRequest* bestRead = nullptr;
        for (PooledReader* r : readers_)
            if (const TileRequest* next = r->nextRead())
                if (bestRead == nullptr || moreUrgent(*next, *bestRead)) best = r, bestRead = next;
        return best;
    }

    void work() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            PooledReader* reader = nullptr;
            wake_.wait(lock, [&] { return stopping_ || (reader = mostUrgent()) != nullptr; });
            if (stopping_) return;
            reader->readNext(lock);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, arrived_;
    std::vector<PooledReader*> readers_;
    std::vector<std::pair<std::size_t, Buffer>> spare_;
    std::size_t held_ = 0;
    std::uint64_t started_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace detail
}  // namespace zelvan

#endif /* ZELVAN_TILES_POOL_HPP */
