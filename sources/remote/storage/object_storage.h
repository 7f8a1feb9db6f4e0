#pragma once
// Pictures in object stores (S3 and stores that speak its protocol): the one call remote_opening makes
// before it tells the formats apart, mapping an s3:// URL to its endpoint's and finding how the
// picture's requests are signed.
#include <string>

#include "remote/network/remote_requests.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

struct StoreRoute {
    std::string url;     // what is fetched: an s3:// URL's endpoint URL, else the address as given
    StoreAccess access;  // an empty origin: no store, nothing signed
};

// For an s3:// URL, or an http(s) one at a store (see storeUrl): the endpoint's URL and the store's
// access, signed with the key options.objectStorage or the AWS tools' settings give (unsigned when none
// is found, unsigned requests are asked for, or the URL is presigned). Any other address passes unchanged,
// without reading anything. False, with the reason in a few words (never a key), when the settings cannot be
// read or the s3:// URL names no object. Reads the environment and the AWS shared files; any thread; throws
// std::bad_alloc only.
bool routeToStore(const std::string& address, const OpenOptions& options, StoreRoute& route,
                  std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
