#include "remote_reading.h"

#include <algorithm>
#include <cstdlib>

namespace remote_test {

std::size_t count(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

zelvan::sources::OpenOptions testOptions(const std::string& cache) {
    zelvan::sources::OpenOptions options;
    options.cacheDirectory = cache;
    options.cacheRemote = !cache.empty();
    options.timeout = std::chrono::milliseconds(1500);
    return options;
}

std::unique_ptr<zelvan::sources::PictureSource> openPicture(const std::string& url,
                                                            const zelvan::sources::OpenOptions& options,
                                                            std::string& error) {
    return zelvan::sources::detail::openRemote(url, options, error);
}

Read readRect(zelvan::sources::PictureSource& source, std::size_t level, std::uint32_t x, std::uint32_t y,
              std::uint32_t width, std::uint32_t height) {
    Read read;
    read.bgra.assign(std::size_t{width} * height * 4, 0);
    zelvan::TileReadControl control;
    read.ok = source.readTile(level, x, y, width, height, read.bgra.data(), std::size_t{width} * 4, control);
    return read;
}

int largestDifference(const Read& read, std::size_t level, std::uint32_t x, std::uint32_t y,
                      std::uint32_t width, std::uint32_t height, bool mean) {
    const std::uint32_t step = 1u << level;
    int worst = 0;
    std::uint64_t total = 0;
    for (std::uint32_t row = 0; row < height; ++row)
        for (std::uint32_t column = 0; column < width; ++column) {
            int sum[3] = {0, 0, 0}, count = 0;
            for (std::uint32_t dy = 0; dy < step; ++dy)
                for (std::uint32_t dx = 0; dx < step; ++dx) {
                    const std::uint32_t px = (x + column) * step + dx, py = (y + row) * step + dy;
                    if (px >= kPictureWidth || py >= kPictureHeight) continue;
                    const Rgb p = picturePixel(px, py);
                    sum[0] += p.r, sum[1] += p.g, sum[2] += p.b, ++count;
                }
            const std::uint8_t* got = &read.bgra[(std::size_t{row} * width + column) * 4];
            const int expected[3] = {sum[2] / count, sum[1] / count, sum[0] / count};  // blue, green, red
            for (int k = 0; k < 3; ++k) {
                worst = std::max(worst, std::abs(got[k] - expected[k]));
                total += static_cast<std::uint64_t>(std::abs(got[k] - expected[k]));
            }
            worst = std::max(worst, std::abs(got[3] - 255));
        }
    return mean ? static_cast<int>(total / (std::uint64_t{width} * height * 3)) : worst;
}

}  // namespace remote_test
