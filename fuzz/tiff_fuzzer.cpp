// libFuzzer target for the demo programs' TIFF decoder: each input becomes an in-memory file that
// is opened and decoded to the end in bands, as zelvan-render and zelvan-view read pictures. A
// DemoError is the right answer to a bad file; a crash, hang, leak or sanitizer report is a fault.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_decoders.h"
#include "program.h"

namespace {

// Pictures this large are only slower to decode, not different; the fuzzer skips their pixels.
constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 22;

// One memory file, rewritten for every input and named through /proc.
int memoryFile() {
    static const int fd = memfd_create("zelvan-tiff-fuzz", 0);
    if (fd < 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();
    try {
        const auto source = zelvan_demo::openTiffBands("/proc/self/fd/" + std::to_string(fd));
        if (std::uint64_t{source->width()} * source->height() > kMostPixels) return 0;
        const std::size_t pitch = std::size_t{source->width()} * 4;
        std::vector<std::uint8_t> band(pitch * 37);
        while (source->readRows(band.data(), pitch, 37) > 0) {
        }
    } catch (const zelvan_demo::DemoError&) {
    }
    return 0;
}
