#pragma once
// An image in memory as the library wants it: rows of blue-green-red-alpha pixels, tightly packed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvan_demo {

struct BgraImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<std::uint8_t[]> pixels;

    std::size_t pitch() const { return std::size_t{width} * 4; }
    std::uint8_t* row(std::uint32_t y) { return pixels.get() + y * pitch(); }
    const std::uint8_t* row(std::uint32_t y) const { return pixels.get() + y * pitch(); }
};

// Bytes of memory this process may use at most: the machine's physical memory, lowered by an
// address-space limit if one is set.
std::uint64_t memoryLimitBytes();

// Throws DemoError (naming `source`) unless a width x height image fits in memoryLimit bytes and
// its rows fit the library's 32-bit pitch. Checked before anything large is allocated.
void checkImageFits(std::uint32_t width, std::uint32_t height, const std::string& source,
                    std::uint64_t memoryLimit = memoryLimitBytes());

// Checks the size as above, then allocates the pixels (uninitialised); a failed allocation is
// reported as DemoError too.
BgraImage allocateImage(std::uint32_t width, std::uint32_t height, const std::string& source);

}  // namespace zelvan_demo
