#include "halved_bands.h"

#include <algorithm>

#include "zelvan_levels.hpp"

namespace zelvan_demo {

namespace {

// The full picture is read in chunks of up to 64 rows (an even number, so that no pair is split) and
// about 8 MB, however tall the bands asked for and however wide the picture; a few chunks at once.
constexpr std::size_t kChunkBytes = std::size_t{2} << 20;
constexpr int kChunks = 4;

std::uint32_t chunkRows(std::uint32_t width) {
    const std::size_t rows = kChunkBytes / (std::size_t{width} * 4);
    return std::uint32_t(std::clamp<std::size_t>(rows - rows % 2, 2, 16));
}

}  // namespace

HalvedBands::HalvedBands(std::unique_ptr<BandSource> full)
    : full_(std::move(full)),
      width_(zelvan::levelSide(full_->width(), 1)),
      height_(zelvan::levelSide(full_->height(), 1)) {
    for (int i = 0; i < kChunks; ++i)
        free_.push_back(
            {std::vector<std::uint8_t>(std::size_t{chunkRows(full_->width())} * full_->width() * 4)});
    thread_ = std::thread([this] { readAhead(); });
}

HalvedBands::~HalvedBands() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void HalvedBands::readAhead() {
    const std::size_t pitch = std::size_t{full_->width()} * 4;
    const std::uint32_t rowsPerChunk = chunkRows(full_->width());
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !free_.empty(); });
            if (stopping_) return;
            chunk = std::move(free_.front());
            free_.pop_front();
        }
        bool last = false;
        try {
            chunk.rows = full_->readRows(chunk.pixels.data(), pitch, rowsPerChunk);
            chunk.used = 0;
            last = chunk.rows < rowsPerChunk;
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            error_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ready_.push_back(std::move(chunk));
        ended_ = last;
        changed_.notify_all();
        if (last) return;
    }
}

bool HalvedBands::nextChunk() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!current_.pixels.empty()) free_.push_back(std::move(current_));
    current_ = {};
    changed_.notify_all();
    changed_.wait(lock, [this] { return !ready_.empty() || error_ || ended_; });
    if (!ready_.empty()) {
        current_ = std::move(ready_.front());
        ready_.pop_front();
        return true;
    }
    if (error_) std::rethrow_exception(error_);
    return false;
}

std::uint32_t HalvedBands::readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) {
    const std::uint32_t fullWidth = full_->width();
    const std::size_t fullPitch = std::size_t{fullWidth} * 4;
    std::uint32_t done = 0;
    while (done < rows) {
        if (current_.used >= current_.rows && !nextChunk()) break;  // the bottom
        for (; done < rows && current_.used < current_.rows; current_.used += 2, ++done) {
            const std::uint8_t* top = current_.pixels.data() + current_.used * fullPitch;
            zelvan::halveRows(top, current_.used + 1 < current_.rows ? top + fullPitch : nullptr, fullWidth,
                              dst + done * pitch);
        }
    }
    return done;
}

std::unique_ptr<BandSource> halvedBands(std::unique_ptr<BandSource> source, std::size_t times) {
    for (std::size_t k = 0; k < times && (source->width() > 1 || source->height() > 1); ++k)
        source = std::make_unique<HalvedBands>(std::move(source));
    return source;
}

}  // namespace zelvan_demo
