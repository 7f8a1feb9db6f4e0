#pragma once
// Reading a remote picture in the tests, as the tile view's workers do, and comparing with the picture
// the trees were written from.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "remote/remote_opening.h"
#include "test_servers.h"
#include "zelvan_sources.hpp"

namespace remote_test {

// How many times `word` occurs in `text` (the proxy's log, say).
std::size_t count(const std::string& text, const std::string& word);

// Options with the scratch directory's own cache (`cache` empty: no disk cache) and a short timeout.
zelvan::sources::OpenOptions testOptions(const std::string& cache = {});

std::unique_ptr<zelvan::sources::PictureSource> openPicture(const std::string& url,
                                                            const zelvan::sources::OpenOptions& options,
                                                            std::string& error);

struct Read {
    bool ok = false;
    std::vector<std::uint8_t> bgra;
};
Read readRect(zelvan::sources::PictureSource& source, std::size_t level, std::uint32_t x, std::uint32_t y,
              std::uint32_t width, std::uint32_t height);

// How far `read` (a rectangle of `level`) is from the test picture, box-averaged over 2^level x 2^level
// pixels for coarser levels: the largest difference of any sample, or with `mean`, the mean one.
int largestDifference(const Read& read, std::size_t level, std::uint32_t x, std::uint32_t y,
                      std::uint32_t width, std::uint32_t height, bool mean = false);

}  // namespace remote_test
