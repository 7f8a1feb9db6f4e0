#include "zarr_stores.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

namespace zarr_test {

std::string writeStores(const std::string& directory) {
    static std::mutex mutex;
    static std::vector<std::string> written;
    static std::string why;
    const std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& done : written)
        if (done == directory) return why;
    const std::string command =
        "/usr/bin/python3 '" ZELVAN_ZARR_STORES "' '" + directory + "' > '" + directory + ".log' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream log(directory + ".log");
    const std::string said((std::istreambuf_iterator<char>(log)), {});
    why = status == 0 ? "" : "the test stores were not written (" + said.substr(0, said.find('\n')) + ")";
    written.push_back(directory);
    return why;
}

std::vector<unsigned char> expectedSamples(const std::string& directory, const std::string& name, int level) {
    std::ifstream in(directory + "/expected/" + name + "-" + std::to_string(level) + ".bin",
                     std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), {});
}

std::vector<unsigned char> readLevel(zelvan::sources::PictureSource& source, std::size_t level) {
    const zelvan::TileSize size = source.levelSize(level);
    const std::size_t pixel = zelvan::pixelBytes(source.sampleLayout()), pitch = size.width * pixel;
    std::vector<unsigned char> samples(pitch * size.height);
    std::vector<float> tile(512 * 512 * 64);  // aligned for every type
    zelvan::TileReadControl control;
    const auto read = [&](std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) {
        if (!source.readSamples(level, x, y, w, h, tile.data(), w * pixel, control)) return false;
        for (std::uint32_t row = 0; row < h; ++row)
            std::copy_n(reinterpret_cast<unsigned char*>(tile.data()) + row * w * pixel, w * pixel,
                        samples.begin() + std::ptrdiff_t((y + row) * pitch + x * pixel));
        return true;
    };
    for (std::uint32_t y = 0; y < size.height; y += 512)
        for (std::uint32_t x = 0; x < size.width; x += 512)
            if (!read(x, y, std::min(512u, size.width - x), std::min(512u, size.height - y))) return {};
    const std::uint32_t w = std::min(100u, size.width), h = std::min(70u, size.height);
    if (!read(size.width - w, size.height - h, w, h)) return {};
    return samples;
}

}  // namespace zarr_test
