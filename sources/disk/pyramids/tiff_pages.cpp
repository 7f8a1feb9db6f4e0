#include "tiff_pages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// libtiff reports through a process-wide handler; the last message is kept for the error line.
thread_local std::string lastTiffMessage;

void keepMessage(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    lastTiffMessage = module != nullptr ? std::string(module) + ": " + text : text;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

TiffFile open(const std::string& path, const char* mode, const std::string& name) {
    TiffFile file(TIFFOpen(path.c_str(), mode));
    if (!file) throw std::runtime_error(name + ": cannot open " + path + " (" + lastTiffMessage + ")");
    return file;
}

template <typename T>
void copyField(TIFF* from, TIFF* to, ttag_t tag) {
    T value{};
    if (TIFFGetField(from, tag, &value) == 1) TIFFSetField(to, tag, value);
}

// The fields that say how the tiles are to be read: size, samples, colour and compression.
void copyLayout(TIFF* from, TIFF* to) {
    copyField<std::uint32_t>(from, to, TIFFTAG_IMAGEWIDTH);
    copyField<std::uint32_t>(from, to, TIFFTAG_IMAGELENGTH);
    copyField<std::uint32_t>(from, to, TIFFTAG_TILEWIDTH);
    copyField<std::uint32_t>(from, to, TIFFTAG_TILELENGTH);
    for (ttag_t tag : {TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PHOTOMETRIC,
                       TIFFTAG_COMPRESSION, TIFFTAG_PLANARCONFIG, TIFFTAG_PREDICTOR, TIFFTAG_SAMPLEFORMAT})
        copyField<std::uint16_t>(from, to, tag);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(from, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1)
        TIFFSetField(to, TIFFTAG_EXTRASAMPLES, extraCount, extra);
    std::uint32_t tablesSize = 0;
    void* tables = nullptr;
    if (TIFFGetField(from, TIFFTAG_JPEGTABLES, &tablesSize, &tables) == 1)
        TIFFSetField(to, TIFFTAG_JPEGTABLES, tablesSize, tables);
}

}  // namespace

void joinTiffPages(const std::vector<std::string>& pages, const std::string& path, bool big,
                   const std::string& name) {
    const TIFFErrorHandler oldError = TIFFSetErrorHandler(keepMessage);
    const TIFFErrorHandler oldWarning = TIFFSetWarningHandler(nullptr);
    struct Restore {
        TIFFErrorHandler error, warning;
        ~Restore() {
            TIFFSetErrorHandler(error);
            TIFFSetWarningHandler(warning);
        }
    } restore{oldError, oldWarning};

    const TiffFile out = open(path, big ? "w8" : "w", name);
    std::vector<unsigned char> buffer;
    for (std::size_t page = 0; page < pages.size(); ++page) {
        const TiffFile in = open(pages[page], "rm", name);  // not mapped: the pages would count as resident
        if (!TIFFIsTiled(in.get())) throw std::runtime_error(name + ": " + pages[page] + " is not tiled");
        copyLayout(in.get(), out.get());
        TIFFSetField(out.get(), TIFFTAG_SUBFILETYPE, page == 0 ? 0 : FILETYPE_REDUCEDIMAGE);
        std::uint64_t* sizes = nullptr;
        if (TIFFGetField(in.get(), TIFFTAG_TILEBYTECOUNTS, &sizes) != 1)
            throw std::runtime_error(name + ": " + pages[page] + " has no tile sizes");
        for (ttile_t tile = 0, count = TIFFNumberOfTiles(in.get()); tile < count; ++tile) {
            buffer.resize(sizes[tile]);
            const tmsize_t read = TIFFReadRawTile(in.get(), tile, buffer.data(), tmsize_t(buffer.size()));
            if (read < 0 || TIFFWriteRawTile(out.get(), tile, buffer.data(), read) != read)
                throw std::runtime_error(name + ": cannot copy the tiles of level " + std::to_string(page) +
                                         " (" + lastTiffMessage + ")");
        }
        if (TIFFWriteDirectory(out.get()) != 1)
            throw std::runtime_error(name + ": cannot write level " + std::to_string(page) + " (" +
                                     lastTiffMessage + ")");
    }
    if (TIFFFlush(out.get()) != 1)
        throw std::runtime_error(name + ": cannot write " + path + " (" + lastTiffMessage + ")");
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
