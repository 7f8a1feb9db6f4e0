// libFuzzer target for Zelvan::sources' picture reading: each input becomes an in-memory file that is
// opened as the demo programs open it, read to the end in bands and in a few tiles of every level. An
// empty result with its reason, or a failed tile read, is the right answer to a bad file; a crash,
// hang, leak or sanitizer report in our code is a fault.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <vips/vips8>

#include "zelvan_sources.hpp"
#include "zelvan_sources_bands.hpp"

namespace {

// Larger pictures are only slower to read, not different, and could exhaust the fuzzer's memory.
constexpr std::uint32_t kMostSide = 4096;

// One memory file, rewritten for every input and named through /proc.
int memoryFile() {
    static const int fd = memfd_create("zelvan-picture-fuzz", 0);
    if (fd < 0) std::abort();
    return fd;
}

zelvan::sources::OpenOptions quietOptions() {
    zelvan::sources::OpenOptions options;
    options.cacheDirectory = "/tmp/zelvan-picture-fuzz-cache";  // never written below the limit
    options.plainPictureLimitBytes = std::uint64_t{kMostSide} * kMostSide * 4;
    options.warning = [](const std::string&) {};
    return options;
}

void readBands(zelvan::sources::BandReader& reader) {
    const std::size_t pitch = std::size_t{reader.info().width} * 4;
    std::vector<unsigned char> band(pitch * 37);
    while (reader.readRows(band.data(), pitch, 37) > 0) {
    }
}

void readCorners(zelvan::sources::PictureSource& tiles) {
    std::vector<unsigned char> tile(64 * 64 * 4);
    for (std::size_t level = 0; level < tiles.levelCount(); ++level) {
        const zelvan::TileSize size = tiles.levelSize(level);
        const std::uint32_t width = std::min<std::uint32_t>(size.width, 64);
        const std::uint32_t height = std::min<std::uint32_t>(size.height, 64);
        tiles.read(level, 0, 0, width, height, tile.data(), 64 * 4);
        tiles.read(level, size.width - width, size.height - height, width, height, tile.data(), 64 * 4);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = [] {
        if (VIPS_INIT("zelvan_picture_fuzzer") != 0) std::abort();
        vips_concurrency_set(1);
        return true;
    }();
    (void)started;
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const zelvan::sources::OpenOptions options = quietOptions();
    zelvan::sources::OpenedBands bands = zelvan::sources::openBands(path, options);
    if (!bands) return 0;
    if (bands.reader->info().width > kMostSide || bands.reader->info().height > kMostSide) return 0;
    readBands(*bands.reader);
    bands.reader.reset();
    zelvan::sources::Opened opened = zelvan::sources::open(path, options);
    if (opened) readCorners(*opened.source);
    return 0;
}
