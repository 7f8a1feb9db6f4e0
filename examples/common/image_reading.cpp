#include "image_reading.h"

#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "image_decoders.h"
#include "program.h"

namespace zelvan_demo {

namespace {

bool isJpeg(const unsigned char* start, std::size_t length) {
    return length >= 3 && start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
}

// Classic TIFF (42) and BigTIFF (43), in either byte order.
bool isTiff(const unsigned char* start, std::size_t length) {
    if (length < 4) return false;
    const bool little =
        start[0] == 'I' && start[1] == 'I' && start[3] == 0 && (start[2] == 42 || start[2] == 43);
    const bool big =
        start[0] == 'M' && start[1] == 'M' && start[2] == 0 && (start[3] == 42 || start[3] == 43);
    return little || big;
}

std::string megabytes(double bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f MB", bytes / 1e6);
    return text;
}

}  // namespace

std::unique_ptr<BandSource> openBandSource(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) throw DemoError(path + ": cannot open (" + std::strerror(errno) + ")");
    struct stat status {};
    if (fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode))
        throw DemoError(path + ": is a directory, not an image");

    unsigned char start[8] = {};
    const std::size_t length = std::fread(start, 1, sizeof start, file.get());
    std::rewind(file.get());
    if (length == sizeof start && png_sig_cmp(start, 0, sizeof start) == 0)
        return openPngBands(std::move(file), path);
    if (isJpeg(start, length)) return openJpegBands(std::move(file), path);
    if (isTiff(start, length)) return openTiffBands(path);
    throw DemoError(path + ": not a PNG, JPEG or TIFF image");
}

std::uint64_t memoryLimitBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    if (pages > 0 && pageSize > 0) limit = std::uint64_t(pages) * std::uint64_t(pageSize);
    rlimit addressSpace{};
    if (getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY &&
        addressSpace.rlim_cur < limit)
        limit = addressSpace.rlim_cur;
    return limit;
}

void checkImageFits(std::uint32_t width, std::uint32_t height, const std::string& source,
                    std::uint64_t memoryLimit) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    // The library takes the distance between rows as a signed 32-bit byte count.
    if (std::uint64_t{width} * 4 > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        throw DemoError(source + ": a " + size + " image is too wide (at most 536870911 pixels per row)");
    // Divide rather than multiply: width * height * 4 can exceed 64 bits.
    const std::uint64_t rowBytes = std::uint64_t{width} * 4;
    if (height != 0 && rowBytes > memoryLimit / height) {
        const double needed = double(rowBytes) * double(height);
        throw DemoError(source + ": a " + size + " image needs " + megabytes(needed) + ", more than the " +
                        megabytes(double(memoryLimit)) + " of memory available");
    }
}

void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name) {
    checkImageFits(width, height, name, std::numeric_limits<std::uint64_t>::max());
}

BgraImage allocateImage(std::uint32_t width, std::uint32_t height, const std::string& source) {
    checkImageFits(width, height, source);
    BgraImage image;
    image.width = width;
    image.height = height;
    try {
        // Left uninitialised: the decoder writes every byte, and zeroing gigabytes costs seconds.
        image.pixels.reset(new std::uint8_t[std::size_t{width} * height * 4]);
    } catch (const std::bad_alloc&) {
        throw DemoError(source + ": not enough memory for a " + std::to_string(width) + " x " +
                        std::to_string(height) + " image");
    }
    return image;
}

}  // namespace zelvan_demo
