// The endpoint is found first (it decides whether an https URL is a store's at all); the region and the
// key only for a store's URL, so that no other picture reads the AWS shared files.
#include "object_storage.h"

#include <memory>

#include "remote/network/http_fetcher.h"
#include "store_addresses.h"
#include "store_errors.h"
#include "store_settings.h"

namespace zelvan {
namespace sources {
namespace detail {

bool routeToStore(const std::string& address, const OpenOptions& options, StoreRoute& route,
                  std::string& error) {
    route = StoreRoute{address, {}};
    const OpenOptions::ObjectStorage& storage = options.objectStorage;
    const bool s3 = isS3Url(address);
    std::string why;
    if (!s3 && !httpUrl(address, why)) return true;  // refused by the caller, in its own words
    StorePlace place;
    std::string urlRegion, bucket, key;
    // An endpoint that is no URL makes no other URL a store's: only an s3:// one needs it.
    if (!findStorePlace(storage, place, why)) {
        if (s3) error = why;
        return !s3;
    }
    if (s3 && !splitS3Url(address, bucket, key, error)) return false;
    if (!s3 && !storeUrl(address, place, urlRegion)) return true;
    if (!resolveRegion(storage, urlRegion, place, error)) return false;
    if (s3) route.url = objectUrl(place, bucket, key);
    route.access.origin = originOf(route.url);
    route.access.explainFailure = &explainStoreFailure;
    // A presigned URL carries its signature in its query: a second one would be refused.
    const bool presigned = address.find("X-Amz-Signature=") != std::string::npos;
    if (place.unsignedRequests || presigned) return true;
    StoreKey found;
    if (!findStoreKey(storage, found, error)) return false;
    if (found.accessKeyId.empty()) return true;
    auto signing = std::make_shared<StoreSigning>();
    signing->origin = route.access.origin;
    signing->region = place.region;
    signing->accessKeyId = std::move(found.accessKeyId);
    signing->secretAccessKey = std::move(found.secretAccessKey);
    signing->sessionToken = std::move(found.sessionToken);
    route.access.signing = std::move(signing);
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
