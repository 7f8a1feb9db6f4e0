#pragma once
// Pictures on disk, read through libvips.
#include <memory>
#include <string>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

class VipsPicture;

// The tiles of `picture`, opened with `options`, as openDisk reads them. Throws std::runtime_error.
std::unique_ptr<PictureSource> diskTiles(const VipsPicture& picture, const OpenOptions& options);

// Opens the picture at `path`; null with the reason in `error` (one line naming the file) when it
// cannot be read.
std::unique_ptr<PictureSource> openDisk(const std::string& path, const OpenOptions& options,
                                        std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
