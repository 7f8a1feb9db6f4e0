#include "tiff_directories.h"

#include <tiffio.h>

#include <memory>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// More directories than this are not looked through: a pyramid of 2^32 a side has 33 levels.
constexpr std::size_t kMostDirectories = 64;

bool addSize(TIFF* tiff, std::vector<std::pair<int, int>>& sizes) {
    std::uint32_t width = 0, height = 0;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) != 1)
        return false;
    sizes.emplace_back(int(width), int(height));
    return true;
}

}  // namespace

bool tiffDirectorySizes(const std::string& path, bool subifds, std::vector<std::pair<int, int>>& sizes) {
    sizes.clear();
    // "O": the tile offsets and byte counts are read one by one when needed, here never.
    const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "rO"));
    if (!tiff) return false;
    if (!subifds) {
        do {
            if (!addSize(tiff.get(), sizes)) return false;
        } while (sizes.size() < kMostDirectories && TIFFReadDirectory(tiff.get()) == 1);
        return true;
    }
    std::uint16_t count = 0;
    std::uint64_t* offsets = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_SUBIFD, &count, &offsets) != 1) return false;
    const std::vector<std::uint64_t> subdirectories(offsets, offsets + count);
    for (const std::uint64_t offset : subdirectories) {
        if (sizes.size() == kMostDirectories) break;
        if (TIFFSetSubDirectory(tiff.get(), offset) != 1 || !addSize(tiff.get(), sizes)) return false;
    }
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
