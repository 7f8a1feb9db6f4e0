#pragma once
// The sizes of a TIFF's pictures, read with libtiff alone: one opening of the file and each directory
// read without its tile offsets (which for a level 100000 pixels wide are 600 KB), where opening each
// page through libvips would read the first directory's in full every time.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

// The width and height of each directory of the TIFF at `path`, in order: of the main chain, or of
// the first directory's sub-IFDs. False when libtiff cannot read the file or the directories.
bool tiffDirectorySizes(const std::string& path, bool subifds, std::vector<std::pair<int, int>>& sizes);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
