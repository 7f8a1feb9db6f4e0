#pragma once
// A pyramidal TIFF (a cloud-optimised GeoTIFF, say) on a server, read by range requests: libvips reads
// it through custom sources over RangeBlocks, one for each read under way (tiff_reader.h), the levels
// being its pages (or, with one page, its sub-IFDs) while each is half the one before.
#include <memory>
#include <string>

#include "remote/network/remote_requests.h"
#include "vips/vips_warnings.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// The TIFF at `url`, read through `requests` (not null), what libvips logs while it decodes told to
// `warnings` (not null); null, with the reason, when its first block cannot be fetched or libvips
// cannot read it.
std::unique_ptr<PictureSource> openRemoteTiff(const std::string& url,
                                              std::shared_ptr<RemoteRequests> requests, Warnings warnings,
                                              std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
