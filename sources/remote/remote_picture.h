#pragma once
// A picture on a server as the tile view's source: each read of the view's grid is put together from the
// server tiles that cover it, fetched at once (or found decoded in memory, or on disk), decoded on the
// reading thread and cropped into place.
#include <memory>

#include "remote/formats/tile_layout.h"
#include "remote/network/remote_requests.h"
#include "vips/vips_warnings.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// The picture `layout` describes, its tiles fetched through `requests` (not null); what libvips logs
// while they decode is told to `warnings` (not null).
std::unique_ptr<PictureSource> makeRemotePicture(TileLayout layout, std::shared_ptr<RemoteRequests> requests,
                                                 Warnings warnings);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
