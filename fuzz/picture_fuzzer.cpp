// libFuzzer target for the demo programs' picture reading: each input becomes an in-memory file that
// VipsPicture opens, as zelvan-render and zelvan-view do, read to the end in bands and in a few
// tiles of every level. A DemoError or a failed tile read is the right answer to a bad file; a
// crash, hang, leak or sanitizer report in our code is a fault.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <vips/vips8>

#include "program.h"
#include "vips_picture.h"

namespace {

// Larger pictures are only slower to read, not different, and could exhaust the fuzzer's memory.
constexpr std::uint32_t kMostSide = 4096;

// One memory file, rewritten for every input and named through /proc.
int memoryFile() {
    static const int fd = memfd_create("zelvan-picture-fuzz", 0);
    if (fd < 0) std::abort();
    return fd;
}

void readAll(const zelvan_demo::VipsPicture& picture) {
    const auto source = picture.bands();
    const std::size_t pitch = std::size_t{source->width()} * 4;
    std::vector<std::uint8_t> band(pitch * 37);
    while (source->readRows(band.data(), pitch, 37) > 0) {
    }
    const auto tiles = picture.tiles();
    std::vector<unsigned char> tile(64 * 64 * 4);
    for (std::size_t level = 0; level < tiles->levelCount(); ++level) {
        const zelvan::TileSize size = tiles->levelSize(level);
        const std::uint32_t width = std::min<std::uint32_t>(size.width, 64);
        const std::uint32_t height = std::min<std::uint32_t>(size.height, 64);
        tiles->read(level, 0, 0, width, height, tile.data(), 64 * 4);
        tiles->read(level, size.width - width, size.height - height, width, height, tile.data(), 64 * 4);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = [] {
        zelvan_demo::startVips();
        vips_concurrency_set(1);
        return true;
    }();
    (void)started;
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();
    try {
        const zelvan_demo::VipsPicture picture("/proc/self/fd/" + std::to_string(fd));
        for (const zelvan_demo::PictureLevel& level : picture.levels())
            if (level.width > kMostSide || level.height > kMostSide) return 0;
        readAll(picture);
    } catch (const zelvan_demo::DemoError&) {
    }
    return 0;
}
