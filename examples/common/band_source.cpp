#include "band_source.h"

#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "band_decoders.h"
#include "bgra_image.h"
#include "demo_error.h"

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

}  // namespace

void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name) {
    checkImageFits(width, height, name, std::numeric_limits<std::uint64_t>::max());
}

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

}  // namespace zelvan_demo
