#pragma once
// One plane (a time point and a depth) of an OME-Zarr image as a tile source of typed samples.
#include <memory>
#include <string>

#include "zarr_image.h"

namespace zelvan {
namespace sources {
namespace detail {

// The plane (timePoint, depth) of `image`, sharing it; null with one line in `error` for a plane out of
// range. Throws std::bad_alloc.
std::unique_ptr<PictureSource> zarrPlane(std::shared_ptr<const ZarrImage> image, unsigned timePoint,
                                         unsigned depth, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
