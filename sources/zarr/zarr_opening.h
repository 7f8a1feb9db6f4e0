#pragma once
// OME-Zarr images, wherever their store is: the metadata read once (consolidated when the store has it),
// checked, and the plane asked for opened.
#include <memory>
#include <string>

#include "zarr_store.h"

namespace zelvan {
namespace sources {
namespace detail {

// The OME-Zarr image in `store` (its root a group with OME-NGFF multiscales, or a bioformats2raw layout's
// first image), plane options.timePoint and options.depth; null with one line naming the store in
// `error` when it cannot be shown. Reads only metadata. Throws std::bad_alloc.
std::unique_ptr<PictureSource> openZarr(std::shared_ptr<ZarrStore> store, const OpenOptions& options,
                                        std::string& error);

// openZarr of the directory `path` (see isZarrDirectory). Never throws.
std::unique_ptr<PictureSource> openZarrDirectory(const std::string& path, const OpenOptions& options,
                                                 std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
