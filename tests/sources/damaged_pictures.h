#pragma once
// What the tests of damaged pictures share (disk/ and remote/): PNG files put together byte by byte, the
// lines a warning handler is told, and a pyramid written on a thread of its own that waits at its
// first step, so that another picture is read while its writing is under way.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zelvan_sources_bands.hpp"

namespace damaged_pictures {

inline std::string bigEndian(std::uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

// A chunk: its length, `type`, `data` and their CRC.
inline std::string pngChunk(const std::string& type, const std::string& data) {
    const std::string typed = type + data;
    const auto crc =
        std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size())));
    return bigEndian(std::uint32_t(data.size())) + typed + bigEndian(crc);
}

// The lines one handler was told.
struct Told {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void(const std::string&)> handler() {
        return [this](const std::string& line) {
            const std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        };
    }
    // At least one line, each naming `name` first and saying `damage`.
    void expectOwn(const std::string& name, const std::string& damage) {
        const std::lock_guard<std::mutex> lock(mutex);
        ASSERT_FALSE(lines.empty()) << name << " was told nothing";
        for (const std::string& line : lines) {
            EXPECT_EQ(line.rfind(name + ": ", 0), 0u) << line;
            EXPECT_NE(line.find(damage), std::string::npos) << line;
        }
    }
};

// writePyramid(path, pyramidPath) with `told` as its handler, on a thread of its own; the constructor
// returns once the writing is at its first step (or over), where it waits until finish().
class PausedPyramid {
public:
    PausedPyramid(const std::string& path, const std::string& pyramidPath, Told& told) {
        zelvan::sources::OpenOptions options;
        options.warning = told.handler();
        options.progress = [this](double) {
            std::call_once(started_, [this] {
                paused_ = true;
                atFirstStep_.set_value();
                resume_.get_future().wait();
            });
        };
        writer_ = std::thread([this, path, pyramidPath, options] {
            written_ = zelvan::sources::writePyramid(path, pyramidPath, options, error_);
            std::call_once(started_, [this] { atFirstStep_.set_value(); });
        });
        atFirstStep_.get_future().wait();
    }
    ~PausedPyramid() {
        if (writer_.joinable()) finish();
    }
    // Lets the writing go on to its end; then whether it waited at a step, and wrote the pyramid.
    void finish() {
        resume_.set_value();
        writer_.join();
        EXPECT_TRUE(paused_) << "the pyramid was written whole before the other picture was read";
        EXPECT_TRUE(written_) << error_;
    }

private:
    std::once_flag started_;
    std::promise<void> atFirstStep_, resume_;
    bool paused_ = false, written_ = false;
    std::string error_;
    std::thread writer_;
};

}  // namespace damaged_pictures
