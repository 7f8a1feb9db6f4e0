#pragma once
// OME-Zarr stores on servers: zarr/'s store over a picture's requests (the disk cache, else the server).
#include <memory>
#include <string>

#include "remote/network/remote_requests.h"
#include "zarr/zarr_store.h"

namespace zelvan {
namespace sources {
namespace detail {

// The store whose root is `url` (http or https; a query is kept on every object's URL). An answer 404 or
// 410 is Missing (the fill value); a refusal (403) is a failure saying why.
std::shared_ptr<ZarrStore> remoteZarrStore(const std::string& url, std::shared_ptr<RemoteRequests> requests);

// Whether `url` names a Zarr store by its path (ending in ".zarr" or ".zarr/").
bool zarrUrl(const std::string& url);
// Whether `url`'s name says it is a descriptor, a TIFF or a tile (.dzi, .json, .xml, .tif, ...): such a URL
// that cannot be read is not asked for a store's metadata besides.
bool namesAnotherFormat(const std::string& url);

// The OME-Zarr image at `url` (see openZarr); null with one line naming the URL in `error`. With `probe`,
// a URL whose zarr.json or .zattrs does not answer is no store: null, `error` untouched. Throws
// std::bad_alloc.
std::unique_ptr<PictureSource> openRemoteZarr(const std::string& url,
                                              std::shared_ptr<RemoteRequests> requests,
                                              const OpenOptions& options, bool probe, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
