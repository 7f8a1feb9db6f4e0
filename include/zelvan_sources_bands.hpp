/*
 * Zelvan sources, band by band: a picture on disk decoded once, top to bottom, for a program that
 * streams it into textures of its own (a zelvan::Pyramid) rather than reading it tile by tile; and a
 * picture on disk written as a pyramidal TIFF.
 *
 *     zelvan::sources::OpenedBands opened = zelvan::sources::openBands("photo.png");
 *     if (!opened) { std::fprintf(stderr, "%s\n", opened.error.c_str()); return 1; }
 *     zelvan::sources::BandReader& reader = *opened.reader;
 *     while (std::uint32_t rows = reader.readRows(band, pitch, 512)) upload(band, rows);
 *     if (!reader.error().empty()) std::fprintf(stderr, "%s\n", reader.error().c_str());
 *
 * The pixels are those open() gives: upright, in sRGB, 8 bits a sample with alpha, as the options'
 * display range says. Part of Zelvan::sources (zelvan_sources.hpp).
 *
 * Errors: nothing here throws; failures are an empty result or false with one line saying why.
 * Threads: openBands and writePyramid may run on any thread, several at once (as open(), with its one
 *   exception); a BandReader is used from one thread at a time, any one.
 */
#ifndef ZELVAN_SOURCES_BANDS_HPP
#define ZELVAN_SOURCES_BANDS_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {

/* Level 0 of a picture, read top to bottom: only the rows asked for, and what the format makes its
 * decoder hold, are ever in memory. Use from one thread at a time. */
class BandReader {
public:
    virtual ~BandReader() = default;
    /* The picture; its levels are those the file holds (one for a plain picture), not those open()
     * would read it through. The same object, unchanged, for the reader's life. Cost: none. Never
     * throws. */
    virtual const PictureInfo& info() const = 0;
    /* Decodes the next `rows` rows into `pixels`: info().width * 4 bytes a row, `pitch` bytes apart,
     * blue-green-red-alpha in memory. Returns how many were written: `rows`, fewer at the bottom, 0
     * past it. A failure (pixels that cannot be decoded) returns 0 and leaves its reason in error(),
     * one line naming the file; every later call returns 0. Never throws.
     * Cost: decoding those rows, no more. */
    virtual std::uint32_t readRows(unsigned char* pixels, std::size_t pitch, std::uint32_t rows) = 0;
    /* Why the reading stopped before the bottom, one line naming the file; empty while it has not (and
     * at the bottom). Throws std::bad_alloc only when the copy cannot be made. */
    virtual std::string error() const = 0;
};

/* What openBands() gives: a reader, or why there is none. */
struct OpenedBands {
    std::unique_ptr<BandReader> reader; /* empty when the picture cannot be opened */
    std::string error;                  /* one line naming the file, when reader is empty */
    explicit operator bool() const noexcept { return reader != nullptr; }
};

/* Opens the picture file at `path` (not a URL) to be read top to bottom; of the options only the
 * display range and the warning handler count. Reads its header only: nothing is decoded or written
 * to the cache. Never throws. Cost: reading the header (and a TIFF's directories). */
ZELVAN_SOURCES_API OpenedBands openBands(const std::string& path, const OpenOptions& options = {});

/* A picture file read one way or the other: top to bottom or as tiles. */
struct OpenedBandsOrTiles {
    std::unique_ptr<BandReader> bands;    /* as openBands() reads it */
    std::unique_ptr<PictureSource> tiles; /* as open() reads it */
    std::string error;                    /* one line, when both are empty */
    explicit operator bool() const noexcept { return bands || tiles; }
};

/* Opens the picture file at `path` (not a URL) once, for a program that streams some pictures and
 * draws others tile by tile: a plain picture of colours (one level; with options.rawSamples, one whose
 * samples are colours) is shown to `readInBands` with its info, and read top to bottom when that says
 * so; every other picture, and a plain one it refuses, is read as tiles exactly as open(path, options)
 * would read it (a plain one larger than options.plainPictureLimitBytes written into the cache first,
 * telling options.progress). Reads the header, and the levels of a pyramidal file, once. `readInBands`
 * is called at most once, on the calling thread; may be empty (never bands). Never throws: an
 * exception from `readInBands` fails the opening. */
ZELVAN_SOURCES_API OpenedBandsOrTiles
openBandsOrTiles(const std::string& path, const OpenOptions& options,
                 const std::function<bool(const PictureInfo&)>& readInBands);

/* Writes the picture file at `path` as a pyramidal tiled TIFF at `pyramidPath`, the pyramid open()
 * writes into its cache: levels each half the one before down to the first within 512 x 512,
 * averaged in linear light, in tiles of 512 compressed with zstd; a BigTIFF past 3 GB of pixels. It
 * is written under a temporary name and renamed into place when complete. The options' display
 * range, warning handler and progress count (progress rising from 0, below 1 while writing, then told
 * exactly 1.0 once, when the pyramid is in place; one call at a time). False, with
 * the reason in one line naming the picture, when the picture cannot be read or the file cannot be
 * written; nothing is then left at `pyramidPath` (an older file there stays). Never throws.
 * Cost: decoding the picture once, and writing about 4/3 of its pixels compressed, twice (each level
 * a file, then the levels joined into one). Should SIGINT, SIGTERM or SIGHUP stop the
 * program meanwhile, the temporary files are removed first, as for open(). Threads: any, two writing the
 * same pyramidPath at once included (each under temporary names of its own; the last renamed stays). */
ZELVAN_SOURCES_API bool writePyramid(const std::string& path, const std::string& pyramidPath,
                                     const OpenOptions& options, std::string& error);

}  // namespace sources
}  // namespace zelvan

#endif /* ZELVAN_SOURCES_BANDS_HPP */
