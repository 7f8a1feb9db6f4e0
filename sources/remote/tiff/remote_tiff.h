#pragma once
// A pyramidal TIFF (a cloud-optimised GeoTIFF, say) on a server, read by range requests: libvips reads
// it through custom sources over RangeBlocks, one for each read under way (tiff_reader.h), the levels
// being its pages (or, with one page, its sub-IFDs) while each is half the one before.
#include <memory>
#include <string>

#include "remote/network/http_fetcher.h"
#include "remote/remote_picture.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

std::unique_ptr<PictureSource> openRemoteTiff(const std::string& url, std::shared_ptr<HttpFetcher> fetcher,
                                              std::shared_ptr<TransferCounters> counters,
                                              RemoteSettings settings, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
