#pragma once
// Tiled TIFF files joined into one, as pages in order, their compressed tiles copied as they are
// (nothing decoded or encoded again). Pages after the first are marked as reduced images, as the
// levels of a pyramid are.
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

// Writes the first directory of each of `pages` (tiled TIFFs with 8-bit samples) as one page of
// `path`, a BigTIFF when `big`. Throws std::runtime_error naming `name`.
void joinTiffPages(const std::vector<std::string>& pages, const std::string& path, bool big,
                   const std::string& name);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
