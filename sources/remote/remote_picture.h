#pragma once
// A picture on a server as the tile view's source: each read of the view's grid is put together from the
// server tiles that cover it, fetched at once (or found decoded in memory, or on disk), decoded on the
// reading thread and cropped into place.
#include <chrono>
#include <memory>

#include "cache/fetched_tiles.h"
#include "remote/formats/tile_layout.h"
#include "remote/network/http_fetcher.h"
#include "vips/vips_warnings.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

struct RemoteSettings {
    std::chrono::milliseconds timeout{30000};
    unsigned requestsPerHost = 6;
    std::shared_ptr<const std::string> certificates;  // for HttpRequest::certificates
    std::shared_ptr<FetchedTiles> cache;              // null: nothing kept on disk
    Warnings warnings;                                // where what libvips logs while decoding goes
};

// What a picture's counters say now.
TransferStats transferStats(const TransferCounters& counters);

std::unique_ptr<PictureSource> makeRemotePicture(TileLayout layout, std::shared_ptr<HttpFetcher> fetcher,
                                                 std::shared_ptr<TransferCounters> counters,
                                                 RemoteSettings settings);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
