#pragma once
// A BandSource at half the size of another (sides rounded up), each pixel the linear-light average
// of 2 x 2 of its pixels as zelvan::Pyramid makes its next level, so that a Pyramid built from the
// halved rows holds exactly the full picture's pyramid without its finest level. A frame that
// draws only coarser levels then decodes the picture once and uploads a quarter of its texels or
// less. The full picture is read ahead on a thread of its own, a few rows at a time, so that
// decoding and averaging take a core each.
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "image_reading.h"

namespace zelvan_demo {

class HalvedBands : public BandSource {
public:
    explicit HalvedBands(std::unique_ptr<BandSource> full);
    ~HalvedBands() override;  // stops reading after the rows being read
    HalvedBands(const HalvedBands&) = delete;
    HalvedBands& operator=(const HalvedBands&) = delete;

    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    // Throws what the full picture's readRows threw.
    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override;

private:
    struct Chunk {
        std::vector<std::uint8_t> pixels;
        std::uint32_t rows = 0, used = 0;  // rows read, rows halved already
    };
    void readAhead();
    bool nextChunk();  // false at the bottom

    std::unique_ptr<BandSource> full_;
    std::uint32_t width_, height_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> ready_, free_;
    Chunk current_;
    bool stopping_ = false, ended_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: it starts once everything above is ready
};

// `source` halved `times` times.
std::unique_ptr<BandSource> halvedBands(std::unique_ptr<BandSource> source, std::size_t times);

}  // namespace zelvan_demo
