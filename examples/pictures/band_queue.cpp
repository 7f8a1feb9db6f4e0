#include "band_queue.h"

#include <new>
#include <utility>

#include "program.h"

namespace zelvan_demo {

BandQueue::BandQueue(std::unique_ptr<BandSource> source, std::string name)
    : source_(std::move(source)),
      name_(std::move(name)),
      width_(source_->width()),
      height_(source_->height()),
      thread_([this] { decodeAll(); }) {}

BandQueue::~BandQueue() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

Band BandQueue::take(bool wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait) changed_.wait(lock, [this] { return !ready_.empty() || error_ || finished_; });
    if (error_) std::rethrow_exception(error_);
    if (ready_.empty()) return Band{};
    Band band = std::move(ready_.front());
    ready_.pop_front();
    return band;
}

void BandQueue::giveBack(Band band) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(band.pixels));
    }
    changed_.notify_all();
}

void BandQueue::decodeAll() {
    try {
        const std::size_t pitch = std::size_t{width_} * 4;
        for (std::uint32_t row = 0; row < height_; row += kBandRows) {
            Band band{row, 0, freeBuffer()};
            if (!band) break;  // stopping
            band.rows = source_->readRows(band.pixels.get(), pitch, kBandRows);
            const std::lock_guard<std::mutex> lock(mutex_);
            ready_.push_back(std::move(band));
            changed_.notify_all();
        }
    } catch (...) {
        const std::lock_guard<std::mutex> lock(mutex_);
        error_ = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

// A buffer given back, or a new one while fewer than kBandBuffers exist; null once stopping.
std::unique_ptr<std::uint8_t[]> BandQueue::freeBuffer() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || !free_.empty() || buffers_ < kBandBuffers; });
    if (stopping_) return nullptr;
    if (!free_.empty()) {
        std::unique_ptr<std::uint8_t[]> buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
    }
    ++buffers_;
    lock.unlock();
    // Left uninitialised: the decoder writes every byte the upload reads.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow)
                                               std::uint8_t[std::size_t{width_} * 4 * kBandRows]);
    if (!buffer)
        throw DemoError(name_ + ": not enough memory for a band of " + std::to_string(kBandRows) + " rows");
    return buffer;
}

}  // namespace zelvan_demo
