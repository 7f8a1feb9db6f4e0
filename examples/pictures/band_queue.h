#pragma once
// A picture decoded on a thread of its own, a band of ZELVAN_BLOCK_SIZE rows (the library's block height) at
// a time, into a ring of three band buffers: the thread that owns the OpenGL context takes each band in turn,
// uploads it and gives its buffer back. So decoding overlaps uploading, and memory holds three bands of the
// picture, never more.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image_reading.h"
#include "zelvan.h"

namespace zelvan_demo {

constexpr std::uint32_t kBandRows = ZELVAN_BLOCK_SIZE;
constexpr unsigned kBandBuffers = 3;

// Rows [firstRow, firstRow + rows) of the picture, tightly packed (pitch width * 4).
struct Band {
    std::uint32_t firstRow = 0, rows = 0;
    std::unique_ptr<std::uint8_t[]> pixels;
    explicit operator bool() const { return pixels != nullptr; }
};

class BandQueue {
public:
    // Starts decoding `source` at once; `name` labels the messages.
    BandQueue(std::unique_ptr<BandSource> source, std::string name);
    ~BandQueue();  // stops the thread after the band it is decoding
    BandQueue(const BandQueue&) = delete;
    BandQueue& operator=(const BandQueue&) = delete;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // The next band, top down. With `wait` it waits for the band to be decoded; without, an empty
    // band means it is not decoded yet. An empty band also follows the last one. Throws the
    // decoder's DemoError (a damaged file, a band that memory cannot hold) once it happens.
    Band take(bool wait);
    // Hands a band's buffer back for the decoder to fill again.
    void giveBack(Band band);

private:
    void decodeAll();
    std::unique_ptr<std::uint8_t[]> freeBuffer();

    std::unique_ptr<BandSource> source_;
    std::string name_;
    std::uint32_t width_, height_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Band> ready_;  // decoded, in order
    std::vector<std::unique_ptr<std::uint8_t[]>> free_;
    unsigned buffers_ = 0;  // made so far, at most kBandBuffers
    bool stopping_ = false, finished_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace zelvan_demo
