#pragma once
// A picture written as a pyramidal tiled TIFF: one page per level, each half the size of the one
// before (sides rounded up) down to the first within one tile, in tiles of kPyramidTile, compressed
// with zstd (as small as Deflate here, and eight times as fast to write). The levels are averaged as
// zelvan::Pyramid averages them, in linear light with colour weighted by alpha (zelvan::halveRows),
// each streamed from the one above two rows at a time: libvips' own pyramids average the encoded
// values, which darkens fine detail. Memory stays bounded by libvips' tile buffers, whatever the
// picture's size.
#include <cstdint>
#include <functional>
#include <string>
#include <vips/vips8>

#include "vips/vips_warnings.h"

namespace zelvan {
namespace sources {
namespace detail {

class VipsPicture;

constexpr std::uint32_t kPyramidTile = 512;

// The cache a pyramid is written into: room is made for it there (cache_pruning.h's CacheRoom) before
// it is put in place. Its temporary files take room beyond the limit until then.
struct PyramidCache {
    std::string directory;
    std::uint64_t limitBytes = 0;
};

// Writes `picture` (4 bands of 8-bit samples: red, green, blue, alpha) to `path`, through temporary
// files beside it (temporary_files.h) renamed into place at the end, so that an interrupted writing
// never leaves a file under that name. `name` labels the messages, `warnings` gets what libvips
// logs meanwhile, `progress` hears how far it has come (rising, below 1 while writing, then exactly 1
// once, when the pyramid is in place; on the calling thread or libvips' workers, one call at a time).
// Each call writes under temporary names of its own: threads may write the same pyramid at once, the
// last in place staying. Throws std::runtime_error with one line.
void writePyramidTiff(const vips::VImage& picture, const std::string& path, const std::string& name,
                      const Warnings& warnings, const std::function<void(double)>& progress = {},
                      const PyramidCache* cache = nullptr);

// The same for an opened picture's full-size level, its messages naming the picture.
void writePyramidTiff(const VipsPicture& picture, const std::string& path,
                      const std::function<void(double)>& progress = {}, const PyramidCache* cache = nullptr);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
